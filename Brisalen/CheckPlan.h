// What the component check concludes for one product of the family, worked
// out from what the engine read of the machine. Nothing here touches the
// machine or the log: the same facts always give the same verdict, so the
// verdict can be shown before the check acts on it, and the check then does
// exactly what the verdict says.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "include/Brisalen.h"

// One entry of the repair list the check leaves for the repair.
struct ST_MSI_PRODUCT_REPAIR_INFO {
    int32_t nType = 0;
    std::wstring strInstallLocation;
    std::wstring strProductCode;
    std::wstring strLocalPackage;
    std::wstring strPackageName;
    int32_t nKind = kRepairKindDamaged;
    bool bEnabled = true;
};

// What holds for the whole check.
struct CheckMachineFacts {
    bool windows64 = false;
    std::wstring itunesVersion;  // of the installed iTunes; empty when there is none
};

// What the registration of an installed product says.
struct InstalledProductFacts {
    std::wstring code;
    std::wstring name;
    std::wstring version;
    std::wstring location;
    std::wstring localPackage;
    std::wstring packageName;
    bool localPackageExists = false;
};

// The outcome of checking an installed product's files.
struct FileCheckFacts {
    bool verified = false;  // false: the file list or the package could not be read
    std::vector<std::wstring> bad;
    std::vector<std::wstring> missing;
};

struct ProductCheckFacts {
    int type = 0;
    std::optional<InstalledProductFacts> installed;
    // Present once the files were checked; the verdict asks for it when it
    // cannot do without.
    std::optional<FileCheckFacts> files;
};

enum class CheckVerdict {
    Skipped,        // not checked on this machine
    Missing,        // to be installed afresh
    FilesToCheck,   // installed in place: the verdict waits for its files
    NotVerifiable,  // its files could not be judged; nothing to repair
    Sound,
    Damaged,
};

enum class SkipReason {
    None,
    NoWindows64,       // the 64-bit support library on a 32-bit Windows
    BonjourNotNeeded,  // iTunes 12.7.0 runs without Bonjour
};

struct ProductCheckPlan {
    int type = 0;
    CheckVerdict verdict = CheckVerdict::Missing;
    SkipReason skip = SkipReason::None;
    // The registration to take away before the product counts as missing:
    // one without a folder can be neither checked nor repaired in place.
    std::optional<std::wstring> unregisterCode;
    bool needPackage = false;
    std::vector<std::wstring> files;                   // damaged: the bad ones, then the missing ones
    std::optional<ST_MSI_PRODUCT_REPAIR_INFO> repair;  // the repair-list entry it adds
};

ProductCheckPlan PlanProductCheck(const CheckMachineFacts& machine, const ProductCheckFacts& product);
