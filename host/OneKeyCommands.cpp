#include "host/OneKeyCommands.h"

#include <csignal>
#include <iostream>
#include <string>

#include "host/HostText.h"
#include "host/PreviewCommands.h"
#include "host/ProductKinds.h"
#include "host/TaskReport.h"

namespace {

// The one-key uninstall reads this flag between the steps it may stop at;
// Ctrl-C sets it. A bool because that is what the library's interface
// takes; it is only ever set from false to true.
bool g_cancelRequested = false;

void OnInterrupt(int) { g_cancelRequested = true; }

const char* UninstallStateName(int state) {
    switch (state) {
        case kOneKeyUninstallState_Item_UninstallBegin: return "uninstalling";
        case kOneKeyUninstallState_Item_UninstallEnd: return "uninstalled";
        case kOneKeyUninstallState_DeleteResidualDir: return "deleting folder";
        case kOneKeyUninstallState_DeleteUserDataDir: return "deleting user data";
        case kOneKeyUninstallState_All_UninstallComplete: return "complete";
        default: return "unknown";
    }
}

const char* InstallStateName(int state) {
    switch (state) {
        case kOneKeyInstallState_Item_Begin: return "installing";
        case kOneKeyInstallState_Item_Success: return "installed";
        case kOneKeyInstallState_Item_Fail: return "failed";
        case kOneKeyInstallState_All_Complete: return "complete";
        default: return "unknown";
    }
}

nlohmann::json Utf8List(const std::vector<std::wstring>& texts) {
    nlohmann::json list = nlohmann::json::array();
    for (const std::wstring& text : texts) list.push_back(ToUtf8(text));
    return list;
}

std::string Outcome(bool success, int32_t error) {
    return success ? "success" : "failed, error " + std::to_string(error);
}

void OnUninstall(void* user, int32_t state, const void* data) {
    const auto& info = *static_cast<const ST_ONEKEY_UNINSTALL_INFO*>(data);
    nlohmann::json entry{{"state", UninstallStateName(state)}};
    std::string line;
    if (state == kOneKeyUninstallState_All_UninstallComplete) {
        entry = {{"success", info.bSuccess}, {"error", info.nErrorCode}, {"message", ToUtf8(info.strMessage)},
                 {"files", Utf8List(info.vecFiles)}};
        line = "one-key uninstall complete: " + Outcome(info.bSuccess, info.nErrorCode);
        if (!info.strMessage.empty()) line += " (" + ToUtf8(info.strMessage) + ")";
        for (const std::wstring& file : info.vecFiles) line += "\n    " + ToUtf8(file);
    } else if (state == kOneKeyUninstallState_Item_UninstallBegin || state == kOneKeyUninstallState_Item_UninstallEnd) {
        entry.update({{"type", info.nType}, {"component", ProductKindName(info.nType)},
                      {"product", ToUtf8(info.strProductName)}});
        line = ProductKindName(info.nType) + ": " + UninstallStateName(state) + " " + ToUtf8(info.strProductName);
        if (state == kOneKeyUninstallState_Item_UninstallBegin) {
            static_cast<TaskReport*>(user)->AddProgress(line + "...", std::move(entry));
            return;
        }
    } else {
        // One report per folder: the progress line, not a line each.
        entry["path"] = ToUtf8(info.strPath);
        static_cast<TaskReport*>(user)->AddProgress(
            std::string(UninstallStateName(state)) + " " + ToUtf8(info.strPath), std::move(entry));
        return;
    }
    static_cast<TaskReport*>(user)->Add(state, std::move(entry), line);
}

void OnInstall(void* user, int32_t state, const void* data) {
    const auto& info = *static_cast<const ST_ONEKEY_INSTALL_INFO*>(data);
    nlohmann::json entry{{"state", InstallStateName(state)}, {"error", info.nErrorCode}};
    std::string line;
    if (state == kOneKeyInstallState_All_Complete) {
        entry["success"] = info.bSuccess;
        line = "one-key install complete: " + Outcome(info.bSuccess, info.nErrorCode);
    } else {
        entry["package"] = ToUtf8(info.strPackage);
        line = std::string(InstallStateName(state)) + " " + ToUtf8(info.strPackage);
        if (state == kOneKeyInstallState_Item_Fail) line += ", error " + std::to_string(info.nErrorCode);
        if (state == kOneKeyInstallState_Item_Begin) {
            static_cast<TaskReport*>(user)->AddProgress(line + "...", std::move(entry));
            return;
        }
    }
    static_cast<TaskReport*>(user)->Add(state, std::move(entry), line);
}

// Prints the result for --json; the exit code is 0 when the task reported
// success, 1 when it reported failure (2, not starting, is the caller's).
int PrintResult(const nlohmann::json& result, const char* key, const HostContext& host) {
    if (host.json) host.Print(nlohmann::json{{key, result}});
    return result["summary"].value("success", false) ? 0 : 1;
}

int RunUninstallAll(HostContext& host, bool withUserData, bool dryRun) {
    if (dryRun) return PrintUninstallPreview(host, withUserData);
    IFixItunesMgr* manager = host.RepairManager();
    if (manager == nullptr) return 2;
    TaskReport report(host.json, kOneKeyUninstallState_All_UninstallComplete);
    if (!manager->OneKeyUninstall(OnUninstall, &report, withUserData, &g_cancelRequested)) {
        std::cerr << "brisalen: the one-key uninstall could not start (see the library log)\n";
        return 2;
    }
    // Installed only now: the library clears the flag when the task starts.
    std::signal(SIGINT, OnInterrupt);
    const nlohmann::json result = report.Wait();
    std::signal(SIGINT, SIG_DFL);
    return PrintResult(result, "uninstall_all", host);
}

int RunInstallAll(HostContext& host, const std::string& folder) {
    IFixItunesMgr* manager = host.RepairManager();
    if (manager == nullptr) return 2;
    TaskReport report(host.json, kOneKeyInstallState_All_Complete);
    if (!manager->OneKeyInstall(FromUtf8(folder), OnInstall, &report)) {
        std::cerr << "brisalen: the one-key install could not start: the folder must hold at least four of the "
                     "family's packages (see the library log)\n";
        return 2;
    }
    return PrintResult(report.Wait(), "install_all", host);
}

}  // namespace

void AddOneKeyCommands(CLI::App& app, HostAction& action) {
    static bool withUserData = false;
    static bool dryRun = false;
    withUserData = false;
    dryRun = false;
    CLI::App* uninstall = app.add_subcommand(
        "uninstall-all", "remove the whole family, its folders and the Store edition (Ctrl-C stops the user data part)");
    uninstall->add_flag("--user-data", withUserData, "also delete the iTunes user data folders");
    uninstall->add_flag("--dry-run", dryRun, "show what would go, change nothing");
    uninstall->callback(
        [&action] { action = [](HostContext& host) { return RunUninstallAll(host, withUserData, dryRun); }; });

    static std::string folder;
    folder = {};
    CLI::App* install = app.add_subcommand("install-all", "install the family from an unpacked installer folder");
    install->add_option("folder", folder, "folder holding the family's .msi packages")->required();
    install->callback([&action] { action = [](HostContext& host) { return RunInstallAll(host, folder); }; });
}
