#pragma once
// Applies a stored definition to a root component: creates the children in
// stored order, sets every property by name in stored order while each
// component is loading, then runs the loaded pass over all of them.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/Component.h"
#include "ui/StoredDefinition.h"

using TComponentFactory = std::function<TComponent*(TComponent* owner)>;
// Classes that stored definitions may name; the standard controls are known
// from the start.
void RegisterComponentClass(const std::string& className, TComponentFactory factory);

class TReader {
public:
    // Unknown classes and properties and ill-typed values raise EReadError.
    static void ReadRoot(TComponent& root, const TStoredComponent& definition);

    TComponent& Root() const { return Root_; }

    // Typed views of a stored value for the classes' ReadProperty.
    std::int64_t AsInteger(const TStoredValue& value) const;
    int AsInt(const TStoredValue& value) const;
    const std::string& AsString(const TStoredValue& value) const;
    bool AsBoolean(const TStoredValue& value) const;
    const std::string& AsIdent(const TStoredValue& value) const;
    const std::vector<std::string>& AsSet(const TStoredValue& value) const;
    const TStoredBytes& AsBytes(const TStoredValue& value) const;
    // Handlers named by identifier, looked up among the root's methods.
    TNotifyEvent AsNotifyEvent(const TStoredValue& value) const;
    TKeyPressEvent AsKeyPressEvent(const TStoredValue& value) const;

    [[noreturn]] void InvalidValue() const;

private:
    explicit TReader(TComponent& root) : Root_(root) {}
    // Both return false once a handler run by a property has freed the
    // component (or the parent): nothing of it is touched after that.
    bool ReadProperties(TComponent& component, const TStoredComponent& definition);
    bool ReadChildren(TComponent& parent, const TStoredComponent& definition);
    const TMethod& Method(const TStoredValue& value) const;

    TComponent& Root_;
    struct TLoading {
        TComponent* Component;
        TLifeWatch Alive;
    };
    std::vector<TLoading> Loaded_;
    std::string Component_;  // for messages
    std::string Property_;
};
