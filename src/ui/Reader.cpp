#include "ui/Reader.h"

#include <map>
#include <memory>

#include "rtl/Errors.h"
#include "ui/StdCtrls.h"

namespace {

std::map<std::string, TComponentFactory>& Classes() {
    static std::map<std::string, TComponentFactory> classes = {
        {"TLabel", [](TComponent* owner) -> TComponent* { return new TLabel(owner); }},
        {"TEdit", [](TComponent* owner) -> TComponent* { return new TEdit(owner); }},
        {"TButton", [](TComponent* owner) -> TComponent* { return new TButton(owner); }},
    };
    return classes;
}

}  // namespace

void RegisterComponentClass(const std::string& className, TComponentFactory factory) {
    Classes()[className] = std::move(factory);
}

void TReader::ReadRoot(TComponent& root, const TStoredComponent& definition) {
    TReader reader(root);
    const TLifeWatch rootAlive = root.LifeWatch();
    if (!reader.ReadProperties(root, definition) || !reader.ReadChildren(root, definition))
        return;
    // A loaded pass may run handlers too, and they may free what comes later.
    for (const TLoading& loading : reader.Loaded_) {
        if (!rootAlive)
            return;
        if (loading.Alive)
            loading.Component->Loaded();
    }
}

bool TReader::ReadProperties(TComponent& component, const TStoredComponent& definition) {
    const TLifeWatch alive = component.LifeWatch();
    component.State_ |= csLoading;
    Loaded_.push_back({&component, alive});
    if (!definition.Name.empty())
        component.SetName(definition.Name);
    Component_ = definition.Name;
    for (const TStoredProperty& property : definition.Properties) {
        Property_ = property.Name;
        if (!component.ReadProperty(*this, property.Name, property.Value))
            throw EReadError(Format("Error reading %s.%s: property does not exist", Component_.c_str(),
                                    Property_.c_str()));
        // Applying it may have served queued calls, whose handlers may free anything.
        if (!alive)
            return false;
    }
    return true;
}

bool TReader::ReadChildren(TComponent& parent, const TStoredComponent& definition) {
    const TLifeWatch parentAlive = parent.LifeWatch();
    const TLifeWatch rootAlive = Root_.LifeWatch();
    for (const TStoredComponent& child : definition.Children) {
        auto found = Classes().find(child.ClassName);
        if (found == Classes().end())
            throw EReadError(Format("Class %s not found", child.ClassName.c_str()));
        // Owned by the root, so that freeing the root frees it.
        TComponent* component = found->second(&Root_);
        component->State_ |= csLoading;
        component->SetName(child.Name);
        component->SetParentComponent(&parent);
        // A child freed on the way takes its stored children with it.
        if (ReadProperties(*component, child))
            ReadChildren(*component, child);
        if (!rootAlive)
            return false;
        if (!parentAlive)
            return true;
    }
    return true;
}

void TReader::InvalidValue() const {
    throw EReadError(Format("Error reading %s.%s: invalid property value", Component_.c_str(), Property_.c_str()));
}

std::int64_t TReader::AsInteger(const TStoredValue& value) const {
    if (auto* number = std::get_if<std::int64_t>(&value))
        return *number;
    InvalidValue();
}

int TReader::AsInt(const TStoredValue& value) const {
    const std::int64_t number = AsInteger(value);
    if (number < INT32_MIN || number > INT32_MAX)
        InvalidValue();
    return static_cast<int>(number);
}

const std::string& TReader::AsString(const TStoredValue& value) const {
    if (auto* text = std::get_if<std::string>(&value))
        return *text;
    InvalidValue();
}

bool TReader::AsBoolean(const TStoredValue& value) const {
    const std::string& name = AsIdent(value);
    if (name == "True")
        return true;
    if (name == "False")
        return false;
    InvalidValue();
}

const std::string& TReader::AsIdent(const TStoredValue& value) const {
    if (auto* ident = std::get_if<TStoredIdent>(&value))
        return ident->Name;
    InvalidValue();
}

const std::vector<std::string>& TReader::AsSet(const TStoredValue& value) const {
    if (auto* set = std::get_if<TStoredSet>(&value))
        return set->Items;
    InvalidValue();
}

const TStoredBytes& TReader::AsBytes(const TStoredValue& value) const {
    if (auto* bytes = std::get_if<TStoredBytes>(&value))
        return *bytes;
    InvalidValue();
}

const TMethod& TReader::Method(const TStoredValue& value) const {
    const std::string& name = AsIdent(value);
    const TMethod* method = Root_.FindMethod(name);
    if (!method)
        throw EReadError(Format("Error reading %s.%s: method %s not found", Component_.c_str(), Property_.c_str(),
                                name.c_str()));
    return *method;
}

TNotifyEvent TReader::AsNotifyEvent(const TStoredValue& value) const {
    if (auto* event = std::get_if<TNotifyEvent>(&Method(value)))
        return *event;
    InvalidValue();
}

TKeyPressEvent TReader::AsKeyPressEvent(const TStoredValue& value) const {
    if (auto* event = std::get_if<TKeyPressEvent>(&Method(value)))
        return *event;
    InvalidValue();
}
