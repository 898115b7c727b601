#pragma once
// Components: named objects owned by another component (the owner frees
// them), with a state and stored properties read by name.

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "rtl/LifeToken.h"
#include "ui/StoredDefinition.h"

enum TComponentStateFlag : unsigned {
    csLoading = 1,     // stored properties are being applied
    csDestroying = 2,  // the destructor has begun
    csDesigning = 4,   // in a form designer; never set in the program
};

class TComponent;
class TReader;

// Handlers bound from stored definitions by name.
using TNotifyEvent = std::function<void(TComponent* sender)>;
// Key is one UTF-16 code unit; setting it to 0 discards the keystroke.
using TKeyPressEvent = std::function<void(TComponent* sender, wchar_t& key)>;
using TMethod = std::variant<TNotifyEvent, TKeyPressEvent>;

class TComponent {
public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    virtual const char* ClassName() const { return "TComponent"; }

    const std::string& Name() const { return Name_; }
    void SetName(std::string name) { Name_ = std::move(name); }
    TComponent* Owner() const { return Owner_; }
    int ComponentCount() const { return static_cast<int>(Components_.size()); }
    TComponent* Components(int index) const;
    TComponent* FindComponent(const std::string& name) const;

    // Read by worker threads too.
    unsigned ComponentState() const { return State_.load(); }
    bool IsLoading() const { return (State_ & csLoading) != 0; }
    bool IsDestroying() const { return (State_ & csDestroying) != 0; }
    bool IsDesigning() const { return (State_ & csDesigning) != 0; }

    // Applies one stored property; false when the class has no property of
    // that name. Classes add their own by overriding and falling back to the
    // base.
    virtual bool ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value);
    // Where a stored child sits; controls take it as their parent.
    virtual void SetParentComponent(TComponent* parent) { (void)parent; }
    // A handler that stored definitions name; null when there is none.
    const TMethod* FindMethod(const std::string& name) const;
    // Tells whoever called out of the component (a property applied, a
    // handler run) whether it was freed meanwhile.
    TLifeWatch LifeWatch() const { return ComponentLife_.Watch(); }

    // The owned component of that name and class; EReadError otherwise.
    template <class T>
    T& Component(const std::string& name) const;

protected:
    void DefineMethod(const std::string& name, TMethod method) { Methods_[name] = std::move(method); }
    // The loaded pass after every stored property has been applied.
    virtual void Loaded();
    // Called first by destructors that still need their class's behaviour.
    void Destroying() { State_ |= csDestroying; }

private:
    friend class TReader;
    void Insert(TComponent* component) { Components_.push_back(component); }
    void Remove(TComponent* component);

    std::string Name_;
    TComponent* Owner_;
    std::vector<TComponent*> Components_;
    std::map<std::string, TMethod> Methods_;
    std::atomic<unsigned> State_{0};
    TLifeToken ComponentLife_;
};

[[noreturn]] void RaiseComponentNotFound(const std::string& owner, const std::string& name);

template <class T>
T& TComponent::Component(const std::string& name) const {
    T* found = dynamic_cast<T*>(FindComponent(name));
    if (!found)
        RaiseComponentNotFound(Name_, name);
    return *found;
}
