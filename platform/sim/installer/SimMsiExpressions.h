// The two small languages of a package's tables: conditions
// ("VersionNT >= 602 AND NOT Installed") and formatted text
// ("[INSTALLDIR]iTunes.exe").
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace sim {

using MsiProperties = std::map<std::wstring, std::wstring>;

// True or false as the Installer decides; nullopt for a condition this
// evaluator does not understand. Property names are case-sensitive, an
// unset property is empty, and a value that reads as an integer compares
// as one. Supports NOT, AND, OR, parentheses, the six comparisons and their
// case-insensitive "~" forms, integers and quoted strings.
std::optional<bool> EvaluateCondition(const std::wstring& condition, const MsiProperties& properties);

// Expands [Name] from `lookup` (which also receives "#FileKey" and the
// like, and answers empty for what it does not know), [\x] to x and [~] to
// nothing.
std::wstring FormatText(const std::wstring& text, const std::function<std::wstring(const std::wstring&)>& lookup);

}  // namespace sim
