#include "Brisalen/ItunesCheck.h"

#include <algorithm>
#include <memory>

#include "Brisalen/CheckPlan.h"
#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/FileVerify.h"
#include "Brisalen/MsiEnum.h"
#include "Brisalen/MsiInstaller.h"
#include "Brisalen/ProductFamily.h"
#include "Brisalen/RepairPlan.h"
#include "common/FileHelpers.h"
#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "common/ServiceControl.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"

namespace {

constexpr int kFirstType = kProductItunes;
constexpr int kLastType = kProductAppleApplicationSupport64;
constexpr int kMinPackagesInFolder = 4;
constexpr int kNoPackageFound = -4;
constexpr wchar_t kProductMissing[] = L"Product Missing";
constexpr wchar_t kFilesMissOrBad[] = L" File Miss or bad";
constexpr wchar_t kRepairRefusal[] = L"修复失败!(上次修复任务尚未结束)\n";

// "name:[STATE] , name:[STATE]" for the type's services, logged as it grows.
std::wstring ServiceStates(platform::IServiceManager& services, const CMsiEnum& products, int type) {
    const std::vector<std::wstring> names = products.ServicesOf(type);
    std::wstring text;
    for (size_t i = 0; i < names.size(); ++i) {
        const wchar_t* format = i + 1 < names.size() ? L"%s:[%s] , " : L"%s:[%s]";
        text += FormatString(format, names[i], GetServiceStateText(services, names[i]));
        LOG_INFO_W(L"[Service] %s", text);
    }
    return text;
}

}  // namespace

CItunesCheck::CItunesCheck(platform::Platform& os, CMsiEnum& products, CMsiInstaller& installer, CFileVerify& verify,
                           const CCollectDirMgr& folders)
    : m_os(os),
      m_products(products),
      m_installer(installer),
      m_verify(verify),
      m_folders(folders),
      m_strHostDir(GetExeDir(os.Process())),
      m_checkTask(os.Process(), FinalReportOrder::ReportThenRelease, L"ERR:check fail because last Task is Running!\n"),
      m_repairTask(os.Process(), FinalReportOrder::ReportThenRelease, kRepairRefusal) {}

bool CItunesCheck::IsItunes64Bit() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bItunes64;
}

std::vector<ST_MSI_PRODUCT_REPAIR_INFO> CItunesCheck::RepairList() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_vecRepair;
}

void CItunesCheck::WaitIdle() const {
    m_checkTask.WaitIdle();
    m_repairTask.WaitIdle();
}

void CItunesCheck::NotifyCheck(int state, const ST_MSI_PRODUCT_UI_INFO& info) const {
    if (m_checkCallback == nullptr) return;
    ST_MSI_PRODUCT_UI_INFO record = info;
    record.nState = state;
    m_checkCallback(m_checkUser, state, &record);
}

void CItunesCheck::NotifyRepair(int state, const ST_REPAIR_PROGRESS_INFO& info) const {
    if (m_repairCallback != nullptr) m_repairCallback(m_repairUser, state, &info);
}

void CItunesCheck::AppendRepair(const ST_MSI_PRODUCT_REPAIR_INFO& entry) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_vecRepair.push_back(entry);
}

// ---------------------------------------------------------------------------
// The check

bool CItunesCheck::CheckAllItunesComponent(TaskCallback pfn, void* pUser, bool bVerifyFiles) {
    LOG_INFO_W(L"CheckAllItunesComponent...\n");
    auto summary = std::make_shared<ST_MSI_PRODUCT_UI_INFO>();
    return m_checkTask.Start(
        [&] {
            std::lock_guard<std::mutex> lock(m_lock);
            m_vecRepair.clear();
            m_checkCallback = pfn;
            m_checkUser = pUser;
            m_bVerifyFiles = bVerifyFiles;
        },
        [this, summary] { *summary = CheckItunesImp(); },
        [this, summary](const TaskEnd& end) {
            NotifyCheck(kCheckItunesProductState_All_CheckComplete, end.threw ? FailedCheckSummary(end) : *summary);
            LOG_INFO_W(L"=========[CheckItunesImp end]===========\n\n");
        });
}

ST_MSI_PRODUCT_UI_INFO CItunesCheck::FailedCheckSummary(const TaskEnd& end) const {
    ST_MSI_PRODUCT_UI_INFO summary;
    summary.nRepairCount = static_cast<int32_t>(RepairList().size());
    summary.strMessage = FormatString(L"ERR:check failed (%s), error %d", end.what, end.error);
    return summary;
}

void CItunesCheck::LoadItunesInfo() {
    m_strItunesVersion.clear();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bItunes64 = false;
    }
    m_mapInstalled.clear();
    // Asked at every check rather than once, so a machine whose Windows
    // changes (the simulated one) is judged as it is now.
    m_bWindows64 = COsInfo(m_os.Machine()).bIsWow64;
    CMsiEnum& products = m_products;
    products.LoadAllInstallProduct(false);
    std::vector<ST_MSI_PRODUCT_RAW_DATA> records;
    for (const auto& entry : products.ItunesProducts()) records.push_back(entry.second);
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        return a.nProductTypeCopy < b.nProductTypeCopy;
    });

    LOG_INFO_W(L"check iTunes bit...");
    bool itunes64 = false;
    for (const ST_MSI_PRODUCT_RAW_DATA& record : records) {
        const int type = record.nProductTypeCopy;
        if (type == kProductItunes) {
            m_strItunesVersion = ProductProperty(record, L"VersionString");
            const std::wstring packageName = ProductProperty(record, L"PackageName");
            LOG_INFO_W(L"itunes version = %s,package = %s", m_strItunesVersion, packageName);
            if (packageName == L"iTunes64.msi") {
                itunes64 = true;
                LOG_INFO_W(L"iTunes64.msi => ituens 64bit !");
            }
        } else if (type == kProductAppleApplicationSupport64) {
            LOG_INFO_W(L"find AppleApplicationSupport64 => ituens 64bit !");
            itunes64 = true;
        }
        m_mapInstalled[type] = record;
    }
    if (m_bWindows64) {
        itunes64 = true;
        LOG_INFO_W(L"==>iTuens is 64 bit!\n");
    } else {
        LOG_INFO_W(L"==>iTuens is 32 bit!\n");
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_bItunes64 = itunes64;
}

// The device service of an installed iTunes keeps its pairing records
// there and does not make the folder itself.
void CItunesCheck::EnsureLockdownFolder() const {
    if (m_mapInstalled.count(kProductItunes) == 0) return;
    const std::wstring lockdown = FormatString(L"%s\\Apple\\Lockdown", m_folders.GetProgramDataDir());
    if (!FileExists(m_os.Files(), lockdown)) CreateDirTree(m_os.Files(), lockdown);
}

ST_MSI_PRODUCT_UI_INFO CItunesCheck::CheckItunesImp() {
    LoadItunesInfo();
    EnsureLockdownFolder();
    LOG_INFO_W(L"=========[CheckItunesImp begin]===========...");
    for (int type = kFirstType; type <= kLastType; ++type) CheckComponent(type);

    ST_MSI_PRODUCT_UI_INFO summary;
    const std::vector<ST_MSI_PRODUCT_REPAIR_INFO> repairs = RepairList();
    summary.nRepairCount = static_cast<int32_t>(repairs.size());
    for (const ST_MSI_PRODUCT_REPAIR_INFO& entry : repairs) {
        if (!FileExists(m_os.Files(), entry.strLocalPackage)) {
            LOG_INFO_W(L"Need Download iTunes install package!");
            summary.bNeedPackage = true;
            break;
        }
    }
    return summary;
}

ProductCheckFacts CItunesCheck::ReadProductFacts(int type) const {
    ProductCheckFacts facts;
    facts.type = type;
    const auto installed = m_mapInstalled.find(type);
    if (installed == m_mapInstalled.end()) return facts;
    const ST_MSI_PRODUCT_RAW_DATA& record = installed->second;
    InstalledProductFacts product;
    product.code = record.strProductCode;
    product.version = ProductProperty(record, L"VersionString");
    product.location = ProductProperty(record, L"InstallLocation");
    product.name = ProductProperty(record, L"ProductName");
    product.localPackage = ProductProperty(record, L"LocalPackage");
    product.packageName = ProductProperty(record, L"PackageName");
    product.localPackageExists = FileExists(m_os.Files(), product.localPackage);
    facts.installed = std::move(product);
    return facts;
}

ProductCheckPlan CItunesCheck::PlanWithFiles(ProductCheckFacts& facts, ST_MSI_PRODUCT_UI_INFO& item,
                                             bool verifyFiles) const {
    facts.files = VerifyFiles(facts.type, *facts.installed, item, verifyFiles);
    return PlanProductCheck(MachineFacts(), facts);
}

CheckMachineFacts CItunesCheck::MachineFacts() const {
    CheckMachineFacts machine;
    machine.windows64 = m_bWindows64;
    machine.itunesVersion = m_strItunesVersion;
    return machine;
}

std::vector<ProductCheckPlan> CItunesCheck::PreviewCheck(bool bVerifyFiles) {
    LoadItunesInfo();
    std::vector<ProductCheckPlan> plans;
    for (int type = kFirstType; type <= kLastType; ++type) {
        ProductCheckFacts facts = ReadProductFacts(type);
        ProductCheckPlan plan = PlanProductCheck(MachineFacts(), facts);
        ST_MSI_PRODUCT_UI_INFO item;
        if (plan.verdict == CheckVerdict::FilesToCheck) plan = PlanWithFiles(facts, item, bVerifyFiles);
        plans.push_back(std::move(plan));
    }
    return plans;
}

void CItunesCheck::CheckComponent(int type) {
    LOG_INFO_W(L"==>[%d] Check:%s...", type, ProductTypeName(type));
    ProductCheckFacts facts = ReadProductFacts(type);
    ProductCheckPlan plan = PlanProductCheck(MachineFacts(), facts);
    if (plan.verdict == CheckVerdict::Skipped) {
        LogSkip(plan.skip);
        return;
    }

    ST_MSI_PRODUCT_UI_INFO item;
    item.nType = type;
    item.nInstalledCount = static_cast<int32_t>(m_mapInstalled.size());
    item.strServices = ServiceStates(m_os.Services(), m_products, type);

    if (!facts.installed) {
        LOG_INFO_W(L"=> kCheckItunesProductState_Item_Fail_Miss\n");
        item.bNeedPackage = plan.needPackage;
        NotifyCheck(kCheckItunesProductState_Item_Checking, item);
        ReportMissing(item, plan);
        return;
    }

    DescribeInstalled(*facts.installed, item);
    NotifyCheck(kCheckItunesProductState_Item_Checking, item);
    if (plan.unregisterCode) {
        LOG_INFO_W(L"InstallDir length 0,Uninstall...");
        m_installer.Uninstall(type, *plan.unregisterCode, nullptr);
        ReportMissing(item, plan);
        LOG_INFO_W(L"=> kCheckItunesProductState_Item_Fail_Miss\n");
        return;
    }
    ReportVerdict(PlanWithFiles(facts, item, m_bVerifyFiles), item);
}

void CItunesCheck::LogSkip(SkipReason reason) const {
    if (reason == SkipReason::NoWindows64) {
        LOG_INFO_W(L"WARN:32 OS not need check:AppleApplicationSupport64!!!\n");
    } else if (reason == SkipReason::BonjourNotNeeded) {
        LOG_INFO_W(L"itunes[%s]not need check bonjour service!!!\n", m_strItunesVersion);
    }
}

void CItunesCheck::DescribeInstalled(const InstalledProductFacts& product, ST_MSI_PRODUCT_UI_INFO& item) const {
    item.strProductName = product.name;
    item.strVersion = product.version;
    item.bNeedPackage = !product.localPackageExists;
    LOG_INFO_W(L"{");
    LOG_INFO_W(L"     ProductName = %s", product.name);
    LOG_INFO_W(L"     PackageName = %s", product.packageName);
    LOG_INFO_W(L"     VersionString = %s", product.version);
    LOG_INFO_W(L"     productCode = %s", product.code);
    LOG_INFO_W(L"     localPackage = %s", product.localPackage);
    LOG_INFO_W(L"     installDir = %s", product.location);
    LOG_INFO_W(L"}");
}

// The end of every check of a product that has to be installed afresh.
void CItunesCheck::ReportMissing(ST_MSI_PRODUCT_UI_INFO& item, const ProductCheckPlan& plan) {
    item.bNeedPackage = plan.needPackage;
    item.strMessage = kProductMissing;
    NotifyCheck(kCheckItunesProductState_Item_Fail_Miss, item);
    AppendRepair(*plan.repair);
}

FileCheckFacts CItunesCheck::VerifyFiles(int type, const InstalledProductFacts& product, ST_MSI_PRODUCT_UI_INFO& item,
                                         bool verifyByList) const {
    FileCheckFacts files;
    if (verifyByList) {
        const wchar_t* bitness = IsItunes64Bit() ? L"64" : L"32";
        const std::wstring listPath = FormatString(L"%s\\iTunesConfig\\%s\\%s\\%d\\%s.fi", m_strHostDir, bitness,
                                                   m_strItunesVersion, type, product.version);
        LOG_INFO_W(L"[%s]Fi checking....\n", product.name);
        files.verified = m_verify.VerifyByFi(listPath, product.location);
        if (!files.verified) {
            LOG_INFO_W(L"[%s],Fi=[%s]check file bad，so do not full check!", product.name, listPath);
        }
        return files;
    }
    LOG_INFO_W(L"[%s] msi file checking:%s....", product.name, product.localPackage);
    int checked = 0;
    files.verified =
        m_verify.VerifyByMsi(type, product.localPackage, product.location, checked, files.bad, files.missing);
    item.nCheckedFiles = checked;
    if (!files.verified) {
        LOG_INFO_W(L"[%s],msi=[%s] check file bad,so do not full check!", product.name, product.localPackage);
    }
    return files;
}

void CItunesCheck::ReportVerdict(const ProductCheckPlan& plan, ST_MSI_PRODUCT_UI_INFO& item) {
    if (plan.verdict == CheckVerdict::NotVerifiable) {
        LOG_INFO_W(L"=> kCheckItunesProductState_Item_Success_NotSure\n");
        NotifyCheck(kCheckItunesProductState_Item_Success_NotSure, item);
        return;
    }
    item.vecFiles = plan.files;
    if (plan.verdict == CheckVerdict::Sound) {
        LOG_INFO_W(L"=> kCheckItunesProductState_Item_Success\n");
        NotifyCheck(kCheckItunesProductState_Item_Success, item);
        return;
    }
    LOG_INFO_W(L"=> kCheckItunesProductState_Item_Fail_Bad\n");
    item.strMessage = kFilesMissOrBad;
    NotifyCheck(kCheckItunesProductState_Item_Fail_Bad, item);
    AppendRepair(*plan.repair);
}

// ---------------------------------------------------------------------------
// The package lookup

bool CItunesCheck::FindComponentPackage(int type, const std::wstring& folder, std::wstring& path) const {
    std::vector<std::wstring> files;
    ListFilesRecursive(m_os.Files(), folder, files);
    if (files.empty()) return false;
    const ProductFamilyRecord* product = FamilyRecord(type);
    if (product == nullptr) return false;
    const wchar_t* key = product->packageKey;
    for (const std::wstring& file : files) {
        if (AsciiLower(GetFileNameFromPath(file)).find(key) != std::wstring::npos) {
            path = file;
            return true;
        }
    }
    return false;
}

bool CItunesCheck::CheckItuensPackageFile(const std::wstring& folder, std::vector<std::wstring>& packages) {
    packages.clear();
    for (int type = kLastType; type >= kFirstType; --type) {
        std::wstring path;
        if (FindComponentPackage(type, folder, path)) {
            packages.push_back(path);
            LOG_INFO_W(L" [%s] => %s\n", ProductTypeName(type), path);
        } else {
            LOG_INFO_W(L" [%s] => Not Found!\n", ProductTypeName(type));
        }
    }
    if (packages.size() < kMinPackagesInFolder) {
        LOG_INFO_W(L"安装包[%s]解压后的文件个数=%d(小于4个)!!\n",
                   folder, static_cast<int>(packages.size()));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The repair

bool CItunesCheck::RepairAllItunesComponent(bool badOnly, std::wstring folder, TaskCallback pfn, void* pUser) {
    LOG_INFO_W(L"正在修复所有itunes组件...\n");
    if (m_repairTask.IsRunning()) {
        LOG_INFO_W(L"%s", kRepairRefusal);
        return false;
    }
    if (RepairList().empty()) return false;
    // Only the count decides here; the repair looks each package up again
    // by type when it needs one.
    std::vector<std::wstring> packages;
    if (!badOnly && !CheckItuensPackageFile(folder, packages)) {
        LOG_INFO_W(L"无效的Ituens解压路径!\n");
        return false;
    }
    auto result = std::make_shared<std::pair<bool, int>>(false, 0);
    return m_repairTask.Start(
        [&] {
            std::lock_guard<std::mutex> lock(m_lock);
            m_repairCallback = pfn;
            m_repairUser = pUser;
            m_bBadOnly = badOnly;
            m_strPackageFolder = folder;
        },
        [this, result] { result->first = RepairItunesImp(result->second); },
        [this, result](const TaskEnd& end) {
            ST_REPAIR_PROGRESS_INFO summary;
            summary.bSuccess = result->first && !end.threw;
            summary.nErrorCode = end.threw ? end.error : result->second;
            NotifyRepair(kRepairItunesState_All_Complete, summary);
            LOG_INFO_W(L"所有itunes组件已修复完毕!!!\n");
        });
}

std::vector<RepairEntryFacts> CItunesCheck::ReadRepairFacts(const std::vector<ST_MSI_PRODUCT_REPAIR_INFO>& entries,
                                                            const std::wstring& folder) const {
    std::vector<RepairEntryFacts> read;
    for (const ST_MSI_PRODUCT_REPAIR_INFO& entry : entries) {
        RepairEntryFacts facts;
        facts.entry = entry;
        facts.localPackageExists = FileExists(m_os.Files(), entry.strLocalPackage);
        std::wstring found;
        if (!facts.localPackageExists && FindComponentPackage(entry.nType, folder, found) &&
            FileExists(m_os.Files(), found)) {
            facts.folderPackage = found;
        }
        read.push_back(std::move(facts));
    }
    return read;
}

std::vector<RepairStep> CItunesCheck::PreviewRepair(bool badOnly, const std::wstring& folder) const {
    return PlanRepair(ReadRepairFacts(RepairList(), folder), badOnly);
}

std::vector<RepairStep> CItunesCheck::PreviewCheckAndRepair(bool badOnly, const std::wstring& folder) {
    std::vector<ST_MSI_PRODUCT_REPAIR_INFO> entries;
    for (const ProductCheckPlan& plan : PreviewCheck(false)) {
        if (plan.repair && plan.repair->bEnabled) entries.push_back(*plan.repair);
    }
    return PlanRepair(ReadRepairFacts(entries, folder), badOnly);
}

bool CItunesCheck::RepairItunesImp(int& error) {
    std::vector<ST_MSI_PRODUCT_REPAIR_INFO> entries;
    {
        // Disabled entries leave the list for good; the rest stay for a
        // later repair without a new check.
        std::lock_guard<std::mutex> lock(m_lock);
        m_vecRepair.erase(std::remove_if(m_vecRepair.begin(), m_vecRepair.end(),
                                         [](const ST_MSI_PRODUCT_REPAIR_INFO& e) { return !e.bEnabled; }),
                          m_vecRepair.end());
        entries = m_vecRepair;
    }
    LOG_INFO_W(L"修复中(%d个组件)...\n", static_cast<int>(entries.size()));
    for (const RepairStep& step : PlanRepair(ReadRepairFacts(entries, m_strPackageFolder), m_bBadOnly)) {
        if (!RepairEntry(step, error)) return false;
    }
    return true;
}

bool CItunesCheck::RepairEntry(const RepairStep& step, int& error) {
    const ST_MSI_PRODUCT_REPAIR_INFO& entry = step.entry;
    ST_REPAIR_PROGRESS_INFO record;
    record.nType = entry.nType;
    record.nKind = entry.nKind;
    const wchar_t* name = ProductTypeName(entry.nType);
    if (entry.nKind == kRepairKindMissing) {
        LOG_INFO_W(L"准备修复缺失的组件%s...\n", name);
    } else {
        LOG_INFO_W(L"准备修复损坏的组件%s...\n", name);
    }
    NotifyRepair(kRepairItunesState_Item_Begin, record);

    if (step.action == RepairAction::NoPackage) {
        error = kNoPackageFound;
        record.nErrorCode = kNoPackageFound;
        record.strMessage = FormatString(L"ERR:匹配不上[%s]的安装包(%s)...", name,
                                         m_strPackageFolder);
        NotifyRepair(kRepairItunesState_Item_Fail, record);
        return false;
    }
    LOG_INFO_W(L"Find : [%s] => [%s]\n", name, step.package);

    CMsiInstaller& installer = m_installer;
    bool repaired = false;
    if (step.action == RepairAction::Reinstall) {
        repaired = installer.UninstallAndInstall(entry.nType, entry.strProductCode, step.package, entry.strPackageName,
                                                 &record.nErrorCode);
    } else if (step.action == RepairAction::Install) {
        repaired = installer.Install(step.package, &record.nErrorCode);
    }
    if (repaired) {
        LOG_INFO_W(L"修复成功!\n");
        record.bSuccess = true;
        NotifyRepair(kRepairItunesState_Item_Success, record);
        return true;
    }
    record.strMessage = FormatString(L"安装失败(err = 0x%x)", record.nErrorCode);
    error = record.nErrorCode;
    NotifyRepair(kRepairItunesState_Item_Fail, record);
    return false;
}
