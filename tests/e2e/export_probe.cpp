// Calls the library's plain exports the way a host application built against
// the public header does: through the import library, so the program only
// links when every declaration of include/Brisalen.h names an export of
// Brisalen.dll exactly as the DLL decorates it.
//
//   export_probe STEP [STEP ...]
//
// Steps run in the order given, in one process, so a later step sees what an
// earlier one left in the library (the service table after a product load,
// the all-products map after the family load):
//
//   services              QueryProductService for -1 and 0..7
//   list                  GetAllInstallProductInfo, QueryItunesService, and the
//                         first map again after the family load
//   install PATH          InstallProduct
//   uninstall TYPE CODE   UninstallProduct
//   groups                a quick scan to its end, then GetAllItunesTypeInfoMap
//   verifyinfo            SaveProductVerifyInfo, once empty, once with a record
//
// Each step prints "step=NAME" and then key=value lines (UTF-8; several
// fields of one value are separated by tabs). Exit code 0 when every call
// went through, 2 on a usage error, 3 when the program could not do its
// part (no manager, a scan refused or not ending).
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Brisalen.h"

namespace {

// What `err` holds before a call, so a code the library never wrote shows.
constexpr int kUnwritten = 0x5a5a5a5a;
constexpr auto kScanTimeout = std::chrono::seconds(120);

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Wide(const char* text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 1) return {};
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), size);
    out.resize(static_cast<size_t>(size) - 1);
    return out;
}

void Line(const std::string& key, const std::string& value) { std::printf("%s=%s\n", key.c_str(), value.c_str()); }
void Line(const std::string& key, long long value) { Line(key, std::to_string(value)); }
void Flag(const std::string& key, bool value) { Line(key, value ? "true" : "false"); }

std::string PropertyOf(const ST_MSI_PRODUCT_RAW_DATA& record, const wchar_t* name) {
    const auto found = record.mapProperty.find(name);
    return found == record.mapProperty.end() ? std::string() : Utf8(found->second);
}

// "code<TAB>type<TAB>type copy<TAB>ProductName<TAB>InstallLocation"
std::string Describe(const ST_MSI_PRODUCT_RAW_DATA& record) {
    return Utf8(record.strProductCode) + "\t" + std::to_string(record.nProductType) + "\t" +
           std::to_string(record.nProductTypeCopy) + "\t" + PropertyOf(record, L"ProductName") + "\t" +
           PropertyOf(record, L"InstallLocation");
}

int StepServices() {
    for (int type = -1; type <= 7; ++type) {
        const std::string key = "service." + std::to_string(type);
        const std::vector<std::wstring>* names = QueryProductService(type);
        if (names == nullptr) {
            Line(key, "null");
            continue;
        }
        Line(key + ".count", static_cast<long long>(names->size()));
        for (const std::wstring& name : *names) Line(key + ".name", Utf8(name));
    }
    return 0;
}

void PrintAllProducts(const std::string& key, const std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA>* all) {
    if (all == nullptr) {
        Line(key, "null");
        return;
    }
    Line(key + ".count", static_cast<long long>(all->size()));
    for (const auto& [code, record] : *all) Line(key + ".product", Utf8(code) + "\t" + Describe(record));
}

int StepList() {
    const auto* all = GetAllInstallProductInfo();
    PrintAllProducts("all", all);

    // A record the call must drop: it empties the vector before filling it.
    std::vector<ST_MSI_PRODUCT_RAW_DATA> family(1);
    family[0].strProductCode = L"{stale}";
    family[0].nProductType = family[0].nProductTypeCopy = 9;
    Flag("family.result", QueryItunesService(family));
    Line("family.count", static_cast<long long>(family.size()));
    for (const ST_MSI_PRODUCT_RAW_DATA& record : family) Line("family.product", Describe(record));

    // The family load empties the map the first call handed out; the next
    // call rebuilds that same map.
    if (all != nullptr) Line("all.after_family.count", static_cast<long long>(all->size()));
    const auto* again = GetAllInstallProductInfo();
    Flag("all.same_address", all != nullptr && again == all);
    PrintAllProducts("all.rebuilt", again);
    return 0;
}

int StepInstall(const char* path) {
    int err = kUnwritten;
    Flag("install.result", InstallProduct(Wide(path), &err));
    Line("install.err", err);
    return 0;
}

int StepUninstall(const char* type, const char* code) {
    char* end = nullptr;
    const long productType = std::strtol(type, &end, 10);
    if (end == type || *end != '\0') {
        std::fprintf(stderr, "uninstall: the type must be a number, not %s\n", type);
        return 2;
    }
    int err = kUnwritten;
    Flag("uninstall.result", UninstallProduct(static_cast<int>(productType), Wide(code), &err));
    Line("uninstall.err", err);
    return 0;
}

// Remembers the scan's states and wakes the waiting thread at the last one.
// It outlives main's locals: a scan that never ends still holds a pointer to
// it when the program gives up.
class ScanWatch {
public:
    static bool BRISALEN_CDECL OnState(void* user, int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO*) {
        static_cast<ScanWatch*>(user)->Record(state);
        return true;
    }

    bool WaitForEnd(std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return ended_.wait_for(lock, timeout, [this] { return end_ > 0; });
    }

    // "1 2x57 4": each state, runs of one state counted.
    std::string States() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string out;
        for (size_t i = 0; i < states_.size();) {
            size_t run = 1;
            while (i + run < states_.size() && states_[i + run] == states_[i]) ++run;
            if (!out.empty()) out += ' ';
            out += std::to_string(states_[i]);
            if (run > 1) out += "x" + std::to_string(run);
            i += run;
        }
        return out;
    }

private:
    void Record(int32_t state) {
        std::lock_guard<std::mutex> lock(mutex_);
        states_.push_back(state);
        if (state == kEnumItunesUserDataState_Enum_End) {
            ++end_;
            ended_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable ended_;
    std::vector<int32_t> states_;
    int end_ = 0;
};

ScanWatch g_scan;
bool g_cancelScan = false;

void PrintGroups(const ItunesTypeInfoMap& groups) {
    Line("groups.count", static_cast<long long>(groups.size()));
    for (const auto& [groupCode, group] : groups) {
        const std::string g = std::to_string(groupCode);
        Line("group." + g, std::to_string(group.nCount) + "\t" + std::to_string(group.nSize));
        for (const auto& [code, info] : group.mapCategory) {
            const std::string c = std::to_string(code);
            Line("category." + c, g + "\t" + std::to_string(info.nCount) + "\t" + std::to_string(info.nSize));
            for (const std::wstring& folder : info.vecFolder) Line("category." + c + ".folder", Utf8(folder));
        }
    }
}

int StepGroups() {
    IItunesUserDataMgr* manager = CreateItunesUserDataMgr();
    if (manager == nullptr) {
        std::fprintf(stderr, "groups: CreateItunesUserDataMgr gave no manager\n");
        return 3;
    }
    const void* before = GetAllItunesTypeInfoMap();
    if (before != nullptr) {
        Line("groups.before_scan.count", static_cast<long long>(static_cast<const ItunesTypeInfoMap*>(before)->size()));
    }
    if (!manager->EnumItunesUserData(&ScanWatch::OnState, &g_scan, false, &g_cancelScan)) {
        std::fprintf(stderr, "groups: the scan did not start\n");
        return 3;
    }
    const bool ended = g_scan.WaitForEnd(kScanTimeout);
    Line("scan.states", g_scan.States());
    if (!ended) {
        std::fprintf(stderr, "groups: the scan did not end within %lld s\n",
                     static_cast<long long>(kScanTimeout.count()));
        // The worker may still call back into g_scan: leave without running
        // the destructors of the statics it uses.
        g_cancelScan = true;
        g_scan.WaitForEnd(std::chrono::seconds(10));
        std::fflush(nullptr);
        std::_Exit(3);
    }
    const void* map = GetAllItunesTypeInfoMap();
    Flag("groups.same_address", map != nullptr && map == before);
    if (map == nullptr) {
        Line("groups", "null");
        return 0;
    }
    PrintGroups(*static_cast<const ItunesTypeInfoMap*>(map));
    return 0;
}

std::wstring BesideProgram(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD size = 0;
    while ((size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) >= path.size()) {
        path.resize(path.size() * 2);
    }
    path.resize(size);
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

int StepVerifyInfo() {
    std::vector<ST_MSI_PRODUCT_UI_INFO> none;
    std::wstring noPath;
    Flag("verifyinfo.empty.result", SaveProductVerifyInfo(none, noPath));

    // The library writes nothing, whatever it is given.
    std::vector<ST_MSI_PRODUCT_UI_INFO> one(1);
    one[0].nType = 4;
    one[0].strProductName = L"Bonjour";
    one[0].vecFiles = {L"C:\\Program Files\\Bonjour\\mDNSResponder.exe"};
    std::wstring path = BesideProgram(L"verify-info.txt");
    const std::wstring given = path;
    Flag("verifyinfo.record.result", SaveProductVerifyInfo(one, path));
    Flag("verifyinfo.record.path_kept", path == given);
    Flag("verifyinfo.record.file_written", GetFileAttributesW(given.c_str()) != INVALID_FILE_ATTRIBUTES);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: export_probe STEP [STEP ...]\n"
                 "steps: services | list | install PATH | uninstall TYPE CODE | groups | verifyinfo\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::map<std::string, int> arguments = {{"services", 0}, {"list", 0},   {"install", 1},
                                                  {"uninstall", 2}, {"groups", 0}, {"verifyinfo", 0}};
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const auto known = arguments.find(step);
        if (known == arguments.end() || i + known->second >= argc) return Usage();
        std::printf("step=%s\n", step.c_str());
        int rc = 0;
        if (step == "services") rc = StepServices();
        else if (step == "list") rc = StepList();
        else if (step == "install") rc = StepInstall(argv[i + 1]);
        else if (step == "uninstall") rc = StepUninstall(argv[i + 1], argv[i + 2]);
        else if (step == "groups") rc = StepGroups();
        else rc = StepVerifyInfo();
        std::fflush(stdout);
        if (rc != 0) return rc;
        i += known->second;
    }
    return 0;
}
