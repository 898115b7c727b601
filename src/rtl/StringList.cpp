#include "rtl/StringList.h"

#include "rtl/Errors.h"

const std::string& TStringList::Get(int index) const {
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    return Items_[static_cast<size_t>(index)];
}

void TStringList::Put(int index, std::string value) {
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    Items_[static_cast<size_t>(index)] = std::move(value);
}

int TStringList::Add(std::string value) {
    Items_.push_back(std::move(value));
    return Count() - 1;
}

void TStringList::AddStrings(const TStringList& other) {
    Items_.insert(Items_.end(), other.Items_.begin(), other.Items_.end());
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    Items_.erase(Items_.begin() + index);
}

std::string TStringList::Text() const {
    std::string text;
    for (const auto& line : Items_) {
        text += line;
        text += "\r\n";
    }
    return text;
}
