#include "Brisalen/UserDataItem.h"

#include <atomic>
#include <cstdint>

namespace {

// A scan and a deletion may create records on different workers.
std::atomic<uint32_t> g_nLastItemId{0};

}  // namespace

ST_ITUNES_USER_DATA_ITEM NewUserDataItem() {
    ST_ITUNES_USER_DATA_ITEM item;
    item.nId = static_cast<int32_t>(g_nLastItemId.fetch_add(1) + 1);
    return item;
}
