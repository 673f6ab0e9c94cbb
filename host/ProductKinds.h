// The names this host shows for the family's product types. The library's
// records and task reports number the six products 1 to 6 (nType); naming
// them is the host's business.
#pragma once

#include <string>

// "iTunes", "Bonjour", ...; "unknown" outside 1 to 6.
std::string ProductKindName(int type);
