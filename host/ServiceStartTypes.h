// The start types of Windows services by the names the host shows and
// takes on its command line.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/Services.h"

inline const std::map<uint32_t, std::string>& StartTypeNames() {
    static const std::map<uint32_t, std::string> names{
        {platform::kServiceBootStart, "boot"},   {platform::kServiceSystemStart, "system"},
        {platform::kServiceAutoStart, "auto"},   {platform::kServiceDemandStart, "demand"},
        {platform::kServiceDisabled, "disabled"},
    };
    return names;
}
