#include "host/RepairCommands.h"

#include <iostream>
#include <string>

#include "host/HostText.h"
#include "host/PreviewCommands.h"
#include "host/ProductKinds.h"
#include "host/TaskReport.h"

namespace {

const char* CheckStateName(int state) {
    switch (state) {
        case kCheckItunesProductState_Item_Checking: return "checking";
        case kCheckItunesProductState_Item_Success: return "sound";
        case kCheckItunesProductState_Item_Success_NotSure: return "not verifiable";
        case kCheckItunesProductState_Item_Fail_Miss: return "missing";
        case kCheckItunesProductState_Item_Fail_Bad: return "damaged";
        case kCheckItunesProductState_All_CheckComplete: return "complete";
        default: return "unknown";
    }
}

const char* RepairStateName(int state) {
    switch (state) {
        case kRepairItunesState_Item_Begin: return "repairing";
        case kRepairItunesState_Item_Success: return "repaired";
        case kRepairItunesState_Item_Fail: return "failed";
        case kRepairItunesState_All_Complete: return "complete";
        default: return "unknown";
    }
}

void OnCheck(void* user, int32_t state, const void* data) {
    const auto& info = *static_cast<const ST_MSI_PRODUCT_UI_INFO*>(data);
    nlohmann::json files = nlohmann::json::array();
    for (const std::wstring& file : info.vecFiles) files.push_back(ToUtf8(file));
    nlohmann::json entry{{"type", info.nType},          {"component", ProductKindName(info.nType)},
                         {"state", CheckStateName(state)}, {"product", ToUtf8(info.strProductName)},
                         {"version", ToUtf8(info.strVersion)}, {"message", ToUtf8(info.strMessage)},
                         {"files", files},              {"checked_files", info.nCheckedFiles},
                         {"package_needed", info.bNeedPackage}, {"services", ToUtf8(info.strServices)}};
    std::string line;
    if (state == kCheckItunesProductState_All_CheckComplete) {
        entry = {{"to_repair", info.nRepairCount}, {"package_needed", info.bNeedPackage}};
        line = "check complete: " + std::to_string(info.nRepairCount) + " to repair" +
               (info.bNeedPackage ? ", an installer package is needed" : "");
    } else if (state != kCheckItunesProductState_Item_Checking) {
        line = ProductKindName(info.nType) + ": " + CheckStateName(state);
        if (!info.strVersion.empty()) line += " (" + ToUtf8(info.strVersion) + ", " + std::to_string(info.nCheckedFiles) + " files checked)";
        for (const std::wstring& file : info.vecFiles) line += "\n    " + ToUtf8(file);
    } else {
        // The item's verdict follows once its files are read.
        static_cast<TaskReport*>(user)->AddProgress("check: " + ProductKindName(info.nType) + " (" +
                                                    std::to_string(info.nType) + "/6)");
        return;
    }
    static_cast<TaskReport*>(user)->Add(state, std::move(entry), line);
}

void OnRepair(void* user, int32_t state, const void* data) {
    const auto& info = *static_cast<const ST_REPAIR_PROGRESS_INFO*>(data);
    nlohmann::json entry{{"type", info.nType},          {"component", ProductKindName(info.nType)},
                         {"state", RepairStateName(state)}, {"kind", info.nKind == kRepairKindMissing ? "missing" : "damaged"},
                         {"success", info.bSuccess},    {"message", ToUtf8(info.strMessage)},
                         {"error", info.nErrorCode}};
    std::string line;
    if (state == kRepairItunesState_All_Complete) {
        entry = {{"success", info.bSuccess}, {"error", info.nErrorCode}};
        line = std::string("repair complete: ") + (info.bSuccess ? "success" : "failed, error " + std::to_string(info.nErrorCode));
    } else if (state == kRepairItunesState_Item_Begin) {
        static_cast<TaskReport*>(user)->AddProgress("repair: " + ProductKindName(info.nType) + "...", std::move(entry));
        return;
    } else {
        line = ProductKindName(info.nType) + ": " + RepairStateName(state);
        if (!info.strMessage.empty()) line += ": " + ToUtf8(info.strMessage);
    }
    static_cast<TaskReport*>(user)->Add(state, std::move(entry), line);
}

// Exit code 1 when the check found something to repair.
int RunCheck(HostContext& host) {
    IFixItunesMgr* manager = host.RepairManager();
    if (manager == nullptr) return 2;
    TaskReport report(host.json, kCheckItunesProductState_All_CheckComplete);
    if (!manager->CheckAllItunesComponent(OnCheck, &report, false)) {
        std::cerr << "brisalen: the check could not start\n";
        return 2;
    }
    const nlohmann::json result = report.Wait();
    if (host.json) host.Print(nlohmann::json{{"check", result}});
    return result["summary"].value("to_repair", 0) > 0 ? 1 : 0;
}

// The repair works on what the last check found, so the command checks
// first (silently) in the same process.
// A dry run takes the library's preview alone: the check itself may change
// the machine (it uninstalls a registration without an installation folder).
int RunRepair(HostContext& host, bool badOnly, const std::string& folder, bool dryRun) {
    if (dryRun) return PrintRepairPreview(host, badOnly, folder);
    IFixItunesMgr* manager = host.RepairManager();
    if (manager == nullptr) return 2;
    const nlohmann::json check = RunQuietCheck(*manager);
    if (check.is_null()) return 2;
    if (check["summary"].value("to_repair", 0) == 0) {
        if (host.json) host.Print(nlohmann::json{{"repair", {{"items", nlohmann::json::array()}, {"summary", {{"success", true}, {"error", 0}}}}}});
        else std::cout << "nothing to repair\n";
        return 0;
    }
    TaskReport report(host.json, kRepairItunesState_All_Complete);
    // The check's worker may still be releasing its slot; the repair is a
    // task of another kind, so it can start at once.
    const bool started = badOnly ? manager->RepairBadComponent(OnRepair, &report)
                                 : manager->RepairAllItunesComponent(FromUtf8(folder), OnRepair, &report);
    if (!started) {
        std::cerr << "brisalen: the repair could not start (see the library log)\n";
        return 2;
    }
    const nlohmann::json result = report.Wait();
    if (host.json) host.Print(nlohmann::json{{"repair", result}});
    return result["summary"].value("success", false) ? 0 : 1;
}

}  // namespace

nlohmann::json RunQuietCheck(IFixItunesMgr& manager) {
    TaskReport check(true, kCheckItunesProductState_All_CheckComplete);
    if (!manager.CheckAllItunesComponent(OnCheck, &check, false)) return nullptr;
    return check.Wait();
}

void AddRepairCommands(CLI::App& app, HostAction& action) {
    app.add_subcommand("check", "check the family's six products file by file (exit code 1: something to repair)")
        ->callback([&action] { action = RunCheck; });
    static std::string folder;
    static bool dryRun = false;
    folder = {};
    dryRun = false;
    CLI::App* repair = app.add_subcommand(
        "repair", "check, then install missing and reinstall damaged products from an unpacked installer folder");
    repair->add_option("folder", folder, "folder holding the family's .msi packages")->required();
    repair->add_flag("--dry-run", dryRun, "show what the repair would do, change nothing");
    repair->callback([&action] { action = [](HostContext& host) { return RunRepair(host, false, folder, dryRun); }; });
    CLI::App* repairBad =
        app.add_subcommand("repair-bad", "check, then reinstall only the damaged products from their cached packages");
    repairBad->add_flag("--dry-run", dryRun, "show what the repair would do, change nothing");
    repairBad->callback(
        [&action] { action = [](HostContext& host) { return RunRepair(host, true, std::string(), dryRun); }; });
}
