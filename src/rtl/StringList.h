#pragma once
// An ordered list of strings (UTF-8 text or raw bytes alike).

#include <string>
#include <vector>

class TStringList {
public:
    int Count() const { return static_cast<int>(Items_.size()); }
    bool Empty() const { return Items_.empty(); }
    // Index outside 0..Count-1 raises EListError.
    const std::string& Get(int index) const;
    void Put(int index, std::string value);
    const std::string& operator[](int index) const { return Get(index); }

    int Add(std::string value);
    void AddStrings(const TStringList& other);
    void Delete(int index);
    void Clear() { Items_.clear(); }
    void Assign(const TStringList& other) { Items_ = other.Items_; }

    // Lines joined by CR LF, each line followed by one.
    std::string Text() const;

    auto begin() const { return Items_.begin(); }
    auto end() const { return Items_.end(); }

private:
    std::vector<std::string> Items_;
};
