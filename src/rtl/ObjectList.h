#pragma once
// A list that owns its objects; indices are checked like the framework's lists.
// The first object's slot is held in place: most lists (a frame's extensions,
// the frames of a still image) hold one object and allocate no array for it.

#include "rtl/Errors.h"

#include <algorithm>
#include <memory>
#include <utility>

template <typename T>
class TObjectList {
public:
    TObjectList() = default;
    TObjectList(const TObjectList&) = delete;
    TObjectList& operator=(const TObjectList&) = delete;
    TObjectList(TObjectList&& other) noexcept { TakeFrom(other); }
    TObjectList& operator=(TObjectList&& other) noexcept {
        if (this != &other) {
            Clear();
            TakeFrom(other);
        }
        return *this;
    }
    ~TObjectList() { Clear(); }

    int Count() const { return Count_; }
    bool Empty() const { return Count_ == 0; }

    T* Get(int index) const {
        if (index < 0 || index >= Count())
            RaiseListIndexError(index);
        return Items()[index].get();
    }
    T* operator[](int index) const { return Get(index); }

    int Add(std::unique_ptr<T> item) {
        if (Count_ == Capacity_)
            Grow();
        Items()[Count_] = std::move(item);
        return Count_++;
    }
    // Destroys the object at index and closes the gap.
    void Delete(int index) { Extract(index); }
    // Removes the object at index and hands it to the caller.
    std::unique_ptr<T> Extract(int index) {
        Get(index);
        std::unique_ptr<T>* items = Items();
        auto item = std::move(items[index]);
        std::move(items + index + 1, items + Count_, items + index);
        --Count_;
        return item;
    }
    // Destroys the objects first to last, without moving the rest after each.
    void Clear() {
        std::unique_ptr<T>* items = Items();
        for (int i = 0; i < Count_; ++i)
            items[i].reset();
        Count_ = 0;
    }

    const std::unique_ptr<T>* begin() const { return Items(); }
    const std::unique_ptr<T>* end() const { return Items() + Count_; }

private:
    std::unique_ptr<T>* Items() { return Heap_ ? Heap_.get() : &First_; }
    const std::unique_ptr<T>* Items() const { return Heap_ ? Heap_.get() : &First_; }

    void Grow() {
        const int capacity = Capacity_ * 2;
        auto grown = std::make_unique<std::unique_ptr<T>[]>(size_t(capacity));
        std::move(Items(), Items() + Count_, grown.get());
        Heap_ = std::move(grown);
        Capacity_ = capacity;
    }

    // Leaves other empty and in place.
    void TakeFrom(TObjectList& other) {
        First_ = std::move(other.First_);
        Heap_ = std::move(other.Heap_);
        Count_ = std::exchange(other.Count_, 0);
        Capacity_ = std::exchange(other.Capacity_, 1);
    }

    std::unique_ptr<T> First_;
    std::unique_ptr<std::unique_ptr<T>[]> Heap_;
    int Count_ = 0;
    int Capacity_ = 1;
};
