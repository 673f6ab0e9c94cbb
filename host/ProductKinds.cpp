#include "host/ProductKinds.h"

std::string ProductKindName(int type) {
    static const char* const kNames[] = {
        "iTunes",  "Apple Software Update",     "Apple Mobile Device Support",
        "Bonjour", "Apple Application Support", "Apple Application Support64",
    };
    constexpr int kCount = static_cast<int>(sizeof(kNames) / sizeof(kNames[0]));
    return type >= 1 && type <= kCount ? kNames[type - 1] : "unknown";
}
