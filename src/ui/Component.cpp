#include "ui/Component.h"

#include <algorithm>

#include "rtl/Errors.h"
#include "ui/Reader.h"

TComponent::TComponent(TComponent* owner) : Owner_(owner) {
    if (Owner_)
        Owner_->Insert(this);
}

TComponent::~TComponent() {
    ComponentLife_.End();
    Destroying();
    // Owned components go last-created first; each removes itself.
    while (!Components_.empty())
        delete Components_.back();
    if (Owner_)
        Owner_->Remove(this);
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount())
        RaiseListIndexError(index);
    return Components_[static_cast<size_t>(index)];
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    for (TComponent* component : Components_)
        if (component->Name_ == name)
            return component;
    return nullptr;
}

void TComponent::Remove(TComponent* component) {
    auto it = std::find(Components_.begin(), Components_.end(), component);
    if (it != Components_.end())
        Components_.erase(it);
}

bool TComponent::ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) {
    if (name == "Name") {
        Name_ = reader.AsString(value);
        return true;
    }
    return false;
}

void TComponent::Loaded() { State_ &= ~csLoading; }

const TMethod* TComponent::FindMethod(const std::string& name) const {
    auto it = Methods_.find(name);
    return it == Methods_.end() ? nullptr : &it->second;
}

void RaiseComponentNotFound(const std::string& owner, const std::string& name) {
    throw EReadError(Format("Component %s.%s not found", owner.c_str(), name.c_str()));
}
