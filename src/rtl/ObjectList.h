#pragma once
// A list that owns its objects; indices are checked like the framework's lists.

#include "rtl/Errors.h"

#include <memory>
#include <vector>

template <typename T>
class TObjectList {
public:
    int Count() const { return static_cast<int>(Items_.size()); }
    bool Empty() const { return Items_.empty(); }

    T* Get(int index) const {
        if (index < 0 || index >= Count())
            RaiseListIndexError(index);
        return Items_[static_cast<size_t>(index)].get();
    }
    T* operator[](int index) const { return Get(index); }

    int Add(std::unique_ptr<T> item) {
        Items_.push_back(std::move(item));
        return Count() - 1;
    }
    // Destroys the object at index and closes the gap.
    void Delete(int index) {
        Get(index);
        Items_.erase(Items_.begin() + index);
    }
    // Removes the object at index and hands it to the caller.
    std::unique_ptr<T> Extract(int index) {
        Get(index);
        auto item = std::move(Items_[static_cast<size_t>(index)]);
        Items_.erase(Items_.begin() + index);
        return item;
    }
    // Destroys the objects first to last, without moving the rest after each.
    void Clear() { Items_.clear(); }

    auto begin() const { return Items_.begin(); }
    auto end() const { return Items_.end(); }

private:
    std::vector<std::unique_ptr<T>> Items_;
};
