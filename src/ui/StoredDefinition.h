#pragma once
// Stored window definitions: plain data, read by TReader. A definition is the
// root component (the form) with its properties and its children, every list
// in stored order.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

// A bare identifier such as clBtnFace, poScreenCenter, True or a handler name.
struct TStoredIdent {
    std::string Name;
    bool operator==(const TStoredIdent&) const = default;
};
// A set of identifiers such as [biSystemMenu] or [fsBold].
struct TStoredSet {
    std::vector<std::string> Items;
    bool operator==(const TStoredSet&) const = default;
};
using TStoredBytes = std::vector<std::uint8_t>;

// Integers, UTF-8 strings, identifiers, sets and binary data.
using TStoredValue = std::variant<std::int64_t, std::string, TStoredIdent, TStoredSet, TStoredBytes>;

struct TStoredProperty {
    std::string Name;
    TStoredValue Value;
};

struct TStoredComponent {
    std::string ClassName;
    std::string Name;
    std::vector<TStoredProperty> Properties;
    std::vector<TStoredComponent> Children;
};

// Shorthands that keep definitions readable; numbers and strings convert by
// themselves.
inline TStoredValue Ident(std::string name) { return TStoredIdent{std::move(name)}; }
inline TStoredValue IdentSet(std::vector<std::string> items) { return TStoredSet{std::move(items)}; }
