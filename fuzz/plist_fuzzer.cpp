// libFuzzer target for the property-list reader of the backup parser: the
// input is handed as it is to the parser that reads a backup's
// Manifest.plist and Info.plist, so binary inputs ("bplist00...") reach the
// binary check and libplist, and everything else libxml2 and the XML
// conversion. A tree that comes back is read the way a backup's is.
//
// Built and run by scripts/fuzz.sh; see fuzz/CMakeLists.txt.
#include <cstddef>
#include <cstdint>

#include "Brisalen/PlistParser.h"

namespace {

// Kept where the compiler cannot drop the reads.
volatile size_t g_textLength = 0;

void ReadString(plist_t dict, const char* key) {
    g_textLength = g_textLength + PlistStringValue(plist_dict_get_item(dict, key)).size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CPlistParser parser;
    const PlistPtr root = parser.Parse(reinterpret_cast<const char*>(data), size);
    if (root == nullptr || plist_get_node_type(root.get()) != PLIST_DICT) return 0;
    plist_t date = plist_dict_get_item(root.get(), "Date");
    if (date != nullptr && plist_get_node_type(date) == PLIST_DATE) {
        int32_t seconds = 0;
        int32_t microseconds = 0;
        plist_get_date_val(date, &seconds, &microseconds);
    }
    plist_t lockdown = plist_dict_get_item(root.get(), "Lockdown");
    if (lockdown != nullptr && plist_get_node_type(lockdown) == PLIST_DICT) {
        for (const char* key : {"DeviceName", "ProductVersion", "UniqueDeviceID"}) ReadString(lockdown, key);
    }
    return 0;
}
