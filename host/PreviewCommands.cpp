#include "host/PreviewCommands.h"

#include <iostream>
#include <memory>

#include "host/HostText.h"
#include "host/ProductKinds.h"
#include "host/ProgressLine.h"
#include "host/StartWhenFree.h"
#include "include/BrisalenC.h"

namespace {

using FreeFn = int32_t(BRISALEN_CALL*)(const void*);
using PreviewUninstallFn = const BRISALEN_UNINSTALL_PREVIEW*(BRISALEN_CALL*)(int32_t);
using PreviewDeletionFn = const BRISALEN_DELETION_PREVIEW*(BRISALEN_CALL*)(const int32_t*, uint32_t, const int32_t*,
                                                                           uint32_t);
using PreviewRepairFn = const BRISALEN_REPAIR_PREVIEW*(BRISALEN_CALL*)(int32_t, const wchar_t*);

// A preview is the library's until it is handed back to BrisalenFree.
struct HandBack {
    FreeFn release = nullptr;
    void operator()(const void* value) const {
        if (value != nullptr) release(value);
    }
};

template <typename Record>
using LibraryOwned = std::unique_ptr<const Record, HandBack>;

// Null after saying why: the export is missing, or the library answered
// null (a task sharing the preview's data runs, or it failed: see its log).
// `followsOwnTask` when this process's own task sharing the data has just
// reported its end: the preview is refused until that task's worker is gone.
template <typename Record, typename Make>
LibraryOwned<Record> TakePreview(HostContext& host, const char* name, Make make, bool followsOwnTask = false) {
    const auto release = reinterpret_cast<FreeFn>(host.Export("BrisalenFree"));
    void* function = host.Export(name);
    if (release == nullptr || function == nullptr) return LibraryOwned<Record>(nullptr, HandBack{});
    const Record* made = nullptr;
    const auto attempt = [&] { return (made = make(function)) != nullptr; };
    LibraryOwned<Record> preview((followsOwnTask ? StartWhenFree(attempt) : attempt()) ? made : nullptr,
                                 HandBack{release});
    if (!preview) std::cerr << "brisalen: " << name << " gave no preview (see the library log)\n";
    return preview;
}

std::string Text(const wchar_t* text) { return text != nullptr ? ToUtf8(text) : std::string(); }

nlohmann::json Strings(const BRISALEN_STRING_LIST& list) {
    nlohmann::json out = nlohmann::json::array();
    for (uint32_t i = 0; i < list.nCount; ++i) out.push_back(Text(list.ppItems[i]));
    return out;
}

nlohmann::json Paths(const BRISALEN_PATH_LIST& list) {
    nlohmann::json out = nlohmann::json::array();
    for (uint32_t i = 0; i < list.nCount; ++i) {
        const BRISALEN_PATH_ENTRY& entry = list.pItems[i];
        out.push_back({{"path", Text(entry.pszPath)}, {"size", entry.nSize}, {"folder", entry.bFolder != 0}});
    }
    return out;
}

// The paths as text: a summary line, then one line a path.
void PrintPaths(const nlohmann::json& paths) {
    int64_t files = 0;
    int64_t bytes = 0;
    for (const auto& entry : paths) {
        if (entry["folder"].get<bool>()) continue;
        ++files;
        bytes += entry["size"].get<int64_t>();
    }
    std::cout << "would delete " << files << " files and " << paths.size() - static_cast<size_t>(files) << " folders, "
              << ByteText(bytes) << ":\n";
    for (const auto& entry : paths) {
        const std::string path = entry["path"].get<std::string>();
        const bool mark = entry["folder"].get<bool>() && (path.empty() || path.back() != '\\');
        std::cout << "    " << path << (mark ? "\\" : "") << "\n";
    }
}

void PrintList(const char* heading, const nlohmann::json& list) {
    for (const auto& entry : list) std::cout << heading << entry.get<std::string>() << "\n";
}

const char* RepairActionName(int32_t action) {
    switch (action) {
        case BRISALEN_REPAIR_REINSTALL: return "reinstall";
        case BRISALEN_REPAIR_INSTALL: return "install";
        case BRISALEN_REPAIR_NO_PACKAGE: return "no package: fails";
        case BRISALEN_REPAIR_UNKNOWN: return "cannot act: fails";
        default: return "unknown";
    }
}

}  // namespace

int PrintUninstallPreview(HostContext& host, bool withUserData) {
    const auto preview = TakePreview<BRISALEN_UNINSTALL_PREVIEW>(host, "BrisalenPreviewOneKeyUninstall", [&](void* f) {
        return reinterpret_cast<PreviewUninstallFn>(f)(withUserData ? 1 : 0);
    });
    if (!preview) return 2;
    nlohmann::json steps = nlohmann::json::array();
    for (uint32_t i = 0; i < preview->nStepCount; ++i) {
        const BRISALEN_UNINSTALL_STEP& step = preview->pSteps[i];
        steps.push_back({{"type", step.nType},
                         {"component", ProductKindName(step.nType)},
                         {"product", Text(step.pszProductName)},
                         {"code", Text(step.pszProductCode)},
                         {"install_location", Text(step.pszInstallLocation)}});
    }
    const nlohmann::json result{{"dry_run", true},
                                {"user_data", withUserData},
                                {"steps", steps},
                                {"programs", Strings(preview->programs)},
                                {"residual_folders", Strings(preview->residualFolders)},
                                {"user_data_folders", Strings(preview->userDataFolders)},
                                {"store_edition", preview->bStoreEdition != 0},
                                {"paths", Paths(preview->paths)}};
    if (host.json) {
        host.Print({{"uninstall_all", result}});
        return 0;
    }
    for (const auto& step : steps) {
        std::cout << step["component"].get<std::string>() << ": would uninstall " << step["product"].get<std::string>()
                  << " " << step["code"].get<std::string>() << "\n";
    }
    PrintList("would end ", result["programs"]);
    PrintList("would delete the folder ", result["residual_folders"]);
    PrintList("would empty ", result["user_data_folders"]);
    if (preview->bStoreEdition != 0) std::cout << "would remove the Store edition\n";
    PrintPaths(result["paths"]);
    std::cout << "dry run: nothing changed\n";
    return 0;
}

int PrintDeletionPreview(HostContext& host, const std::vector<int32_t>& categories, const std::vector<int32_t>& items) {
    const auto preview = TakePreview<BRISALEN_DELETION_PREVIEW>(
        host, "BrisalenPreviewUserDataDeletion",
        [&](void* f) {
            return reinterpret_cast<PreviewDeletionFn>(f)(categories.data(), static_cast<uint32_t>(categories.size()),
                                                          items.data(), static_cast<uint32_t>(items.size()));
        },
        true);
    if (!preview) return 2;
    const nlohmann::json result{{"dry_run", true},
                                {"categories", categories},
                                {"backup_ids", items},
                                {"total_bytes", preview->nTotalSize},
                                {"paths", Paths(preview->paths)}};
    if (host.json) {
        host.Print({{"delete", result}});
        return 0;
    }
    PrintPaths(result["paths"]);
    std::cout << "the scan counted " << ByteText(preview->nTotalSize) << "\ndry run: nothing changed\n";
    return 0;
}

int PrintRepairPreview(HostContext& host, bool badOnly, const std::string& folder) {
    const std::wstring packages = FromUtf8(folder);
    const auto preview = TakePreview<BRISALEN_REPAIR_PREVIEW>(host, "BrisalenPreviewRepair", [&](void* f) {
        return reinterpret_cast<PreviewRepairFn>(f)(badOnly ? 1 : 0, badOnly ? nullptr : packages.c_str());
    });
    if (!preview) return 2;
    nlohmann::json steps = nlohmann::json::array();
    for (uint32_t i = 0; i < preview->nCount; ++i) {
        const BRISALEN_REPAIR_STEP& step = preview->pItems[i];
        steps.push_back({{"type", step.nType},
                         {"component", ProductKindName(step.nType)},
                         {"kind", step.nKind == BRISALEN_REPAIR_KIND_MISSING ? "missing" : "damaged"},
                         {"action", RepairActionName(step.nAction)},
                         {"code", Text(step.pszProductCode)},
                         {"package", Text(step.pszPackage)}});
    }
    if (host.json) {
        host.Print({{"repair", {{"dry_run", true}, {"steps", steps}}}});
        return 0;
    }
    if (steps.empty()) std::cout << "nothing to repair\n";
    for (const auto& step : steps) {
        std::cout << step["component"].get<std::string>() << ": " << step["kind"].get<std::string>() << ", would "
                  << step["action"].get<std::string>();
        if (!step["package"].get<std::string>().empty()) std::cout << " from " << step["package"].get<std::string>();
        std::cout << "\n";
    }
    std::cout << "dry run: nothing changed\n";
    return 0;
}
