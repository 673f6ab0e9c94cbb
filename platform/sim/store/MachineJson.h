// How machine.json stores the values of the simulated machine. Every
// section is a plain struct with a declared mapping (nlohmann's
// NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT, or SIM_JSON_STORED_AS
// below for a section stored as its one member); what those cannot say is
// said once here:
//  - wide text is UTF-8 in the file, through the one std::wstring
//    serializer below;
//  - a std::optional is null when empty;
//  - a map keyed by wide text is an object; one keyed by int an object with
//    the numbers as keys ("26", or "0x1a" in a hand-written file);
//  - an EntryList leaves out the entries it cannot read, so one bad entry
//    in a hand-edited file costs only itself.
// Include this header (through the section's own) wherever a section is
// converted: a translation unit that converted std::wstring without it
// would store it as an array of numbers.
#pragma once

#include <algorithm>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/Utf8.h"

namespace sim {

// A list of a section that a hand-edited machine.json may get partly
// wrong: an entry that does not convert is left out, and anything other
// than an array reads as no entries.
template <typename T>
struct EntryList : std::vector<T> {
    using std::vector<T>::vector;
    using std::vector<T>::operator=;
    EntryList() = default;
    EntryList(const std::vector<T>& entries) : std::vector<T>(entries) {}  // NOLINT: a list is a list
};

// The entries of a section that are known by a name compared in any case
// (a product code, a service name), in the order they were first added.
template <typename T, std::wstring T::*kName>
struct NamedEntries {
    EntryList<T> entries;

    // The entry of that name; entries.end() when there is none.
    typename EntryList<T>::iterator Find(const std::wstring& name) { return FindIn(entries, name); }
    typename EntryList<T>::const_iterator Find(const std::wstring& name) const { return FindIn(entries, name); }

    // Whether there was an entry of that name to remove.
    bool Erase(const std::wstring& name) {
        auto it = Find(name);
        if (it == entries.end()) return false;
        entries.erase(it);
        return true;
    }

private:
    template <typename List>
    static auto FindIn(List& list, const std::wstring& name) {
        return std::find_if(list.begin(), list.end(), [&](const T& entry) { return EqualsNoCase(entry.*kName, name); });
    }
};

// Appends `entry` to a log that keeps its last `kept` entries.
template <typename T>
void KeepLast(std::vector<T>& log, T entry, size_t kept) {
    log.push_back(std::move(entry));
    if (log.size() > kept) log.erase(log.begin(), log.end() - static_cast<std::ptrdiff_t>(kept));
}

// The stored form of a section that is the value of its one member.
#define SIM_JSON_STORED_AS(Type, member)                                                  \
    inline void to_json(nlohmann::json& json, const Type& value) { json = value.member; } \
    inline void from_json(const nlohmann::json& json, Type& value) { json.get_to(value.member); }

}  // namespace sim

namespace nlohmann {

template <>
struct adl_serializer<std::wstring> {
    static void to_json(json& j, const std::wstring& text) { j = sim::ToUtf8(text); }
    static void from_json(const json& j, std::wstring& text) { text = sim::FromUtf8(j.get<std::string>()); }
};

template <typename T>
struct adl_serializer<std::optional<T>> {
    static void to_json(json& j, const std::optional<T>& value) {
        if (value)
            j = *value;
        else
            j = nullptr;
    }
    static void from_json(const json& j, std::optional<T>& value) {
        if (j.is_null())
            value.reset();
        else
            value = j.get<T>();
    }
};

// Keys keep their stored spelling; a value that does not convert is left
// out, as a hand-edited file may hold one.
template <typename T, typename Compare, typename Allocator>
struct adl_serializer<std::map<std::wstring, T, Compare, Allocator>> {
    using Map = std::map<std::wstring, T, Compare, Allocator>;
    static void to_json(json& j, const Map& map) {
        j = json::object();
        for (const auto& [key, value] : map) j[sim::ToUtf8(key)] = value;
    }
    static void from_json(const json& j, Map& map) {
        if (!j.is_object())
            throw json::type_error::create(302, "type must be object, but is " + std::string(j.type_name()), &j);
        map.clear();
        for (auto it = j.begin(); it != j.end(); ++it) {
            try {
                map.emplace(sim::FromUtf8(it.key()), it->template get<T>());
            } catch (const json::exception&) {
            }
        }
    }
};

template <typename T, typename Compare, typename Allocator>
struct adl_serializer<std::map<int, T, Compare, Allocator>> {
    using Map = std::map<int, T, Compare, Allocator>;
    static void to_json(json& j, const Map& map) {
        j = json::object();
        for (const auto& [key, value] : map) j[std::to_string(key)] = value;
    }
    static void from_json(const json& j, Map& map) {
        map.clear();
        for (auto it = j.begin(); it != j.end(); ++it) {
            // Base 0, so a hand-written file may say "0x1a" as well as "26".
            map[std::stoi(it.key(), nullptr, 0)] = it->template get<T>();
        }
    }
};

template <typename T>
struct adl_serializer<sim::EntryList<T>> {
    static void to_json(json& j, const sim::EntryList<T>& list) {
        j = json::array();
        for (const T& entry : list) j.push_back(entry);
    }
    static void from_json(const json& j, sim::EntryList<T>& list) {
        list.clear();
        if (!j.is_array()) return;
        for (const json& entry : j) {
            try {
                list.push_back(entry.get<T>());
            } catch (const json::exception&) {
            }
        }
    }
};

}  // namespace nlohmann
