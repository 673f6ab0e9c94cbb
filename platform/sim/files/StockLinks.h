// The junctions Windows has kept since Vista for programs that still use
// the folder names of Windows XP ("C:\Documents and Settings", a profile's
// "Application Data", ProgramData's "Start Menu" ...), and the folders they
// lead to, as Setup makes them with the profiles and ProgramData.
#pragma once

#include "platform/sim/Api.h"

namespace sim {

class Machine;

// Makes the stock junctions of the machine's profile (and of a Default
// profile when the machine has one), of the profiles folder and of
// ProgramData, and the folders they lead to, where they are missing. Each junction it makes carries what Windows gives them: the
// hidden and system attributes and an ACL that denies listing its entries
// (FileMeta::listDenied), while paths through it open as usual. An entry
// already there, link or not, is left as it is.
SIM_API void CreateStockLinks(Machine& machine);

}  // namespace sim
