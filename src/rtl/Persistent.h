#pragma once
// The root of the framework's object tree: class names for messages, and the
// persistent base whose objects copy themselves from and into one another.

#include <functional>

class TObject {
public:
    virtual ~TObject() = default;
    virtual const char* ClassName() const { return "TObject"; }
};

// A notification bound to an object; it receives the sender. Unset means
// nothing is called.
using TObjectEvent = std::function<void(TObject* sender)>;

class TPersistent : public TObject {
public:
    const char* ClassName() const override { return "TPersistent"; }

    // Copies source into this object. The base asks the source to assign
    // itself (AssignTo); with no taker it fails with "Cannot assign a %s to a %s".
    virtual void Assign(TPersistent* source);

protected:
    // Copies this object into dest; the base fails with the assign error.
    virtual void AssignTo(TPersistent* dest);
    [[noreturn]] void AssignError(const TPersistent* source) const;
};
