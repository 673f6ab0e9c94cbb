// Creation of user-data item records, each with an id of its own.
#pragma once

#include "include/Brisalen.h"

// A blank record (empty strings, zero numbers, bValid false) holding the
// next id of a count that starts at 0 with the process and is never reset,
// so the first record is 1 and ids stay unique while the library is loaded.
ST_ITUNES_USER_DATA_ITEM NewUserDataItem();
