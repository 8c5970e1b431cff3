// Builds, from the device's power sources, the registry tree that the platform's ioreg
// lists: objects with their classes and properties, the device's battery among them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <cstddef>
#include <string_view>

#include "battery_figures.h"
#include "listed_text.h"
#include "power_supply.h"
#include "stand_in.h"

struct Property;

// A property's value: a number, a boolean, a text or a dictionary of further properties.
// A text refers to the power sources it was read from, or to a constant; a dictionary's
// entries lie in the same tree.
struct PropertyValue {
    enum class Kind : std::uint8_t { number, boolean, text, dictionary };
    Kind kind = Kind::number;
    std::int64_t number = 0;
    bool boolean = false;
    std::string_view text;
    const Property* entries = nullptr;
    std::size_t entry_count = 0;
};

struct Property {
    std::string_view key;
    PropertyValue value;
};

// Give a value of each kind but the dictionary, which only a tree holds.
PropertyValue make_number(std::int64_t number);
PropertyValue make_boolean(bool boolean);
PropertyValue make_text(std::string_view text);

// One registry object and the objects attached below it, which lie next to each other in
// the same tree.
struct RegistryObject {
    std::string_view name;
    // A second name that -n finds it by, or empty.
    std::string_view also_named;
    // Its class, then each class that one derives from; empty past the last.
    std::array<std::string_view, 4> lineage;
    std::uint64_t id = 0;
    int retain = 7;
    bool service = true;  // has a registration state to show
    const Property* properties = nullptr;
    std::size_t property_count = 0;
    RegistryObject* children = nullptr;
    std::size_t child_count = 0;

    // The property named `key`, or nullptr.
    const Property* find(std::string_view key) const;

    // Whether it is named `asked`, by its name or its second name.
    bool answers_to(std::string_view asked) const { return asked == name || (!also_named.empty() && asked == also_named); }
};

// The most properties that one object or dictionary holds.
inline constexpr std::size_t MOST_KEYS = 32;

// The most objects and properties that a tree of the most sources holds.
inline constexpr std::size_t MOST_OBJECTS = 9 + MOST_ADAPTERS + MOST_PERIPHERALS;
inline constexpr std::size_t MOST_PROPERTIES = 40 + (2 * (MOST_ADAPTERS + MOST_PERIPHERALS));

// A whole tree, its objects and their properties held in place: the objects point at each
// other, so a tree is never copied. Every object's name is safe to list as it is.
struct RegistryTree {
    std::array<RegistryObject, MOST_OBJECTS> objects;
    std::array<Property, MOST_PROPERTIES> properties;
    Text machine_name;  // the kernel's, its characters made safe

    RegistryTree() = default;
    RegistryTree(const RegistryTree&) = delete;
    RegistryTree& operator=(const RegistryTree&) = delete;

    const RegistryObject& root() const { return objects[0]; }
};

// Builds in `tree` (which it first clears), where the platform's laptops have theirs, the device's battery as one
// AppleSmartBattery six levels below Root, so that its property lines begin with the same
// 18 characters; the adapters beside its ancestors, and each peripheral's battery under
// input, by the name and class that `era`'s scripts ask for. The tree refers to the texts of
// `sources`, which must outlive it. The battery's keys are those of `era`'s laptops; with no
// generation named, those of 2016, and each peripheral answers to every generation's name.
void build_registry_tree(const PowerSources& sources, RegistryTree& tree, std::optional<Era> era = std::nullopt);
