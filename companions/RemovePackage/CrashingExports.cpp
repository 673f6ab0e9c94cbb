// A test build of RemovePackage.dll whose exports fault the way a broken
// companion would: each writes through a null pointer. Only the Wine
// scenarios use it, to see the caller survive.
#include "RemovePackage.h"

namespace {

// Volatile on both sides, or the compiler may drop a write it can prove
// undefined.
void WriteThroughNull() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 0;
}

}  // namespace

extern "C" bool REMOVEPACKAGE_CDECL CheckInstallMicrosoftStoreItunes(wchar_t* /*version*/, int32_t /*reserved*/) {
    WriteThroughNull();
    return true;
}

extern "C" int32_t REMOVEPACKAGE_CDECL UninstallMicrosoftStoreItunes() {
    WriteThroughNull();
    return removepackage::kRemoved;
}
