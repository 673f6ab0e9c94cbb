// The registry and its two views, initialisation files, code pages, the
// machine's facts and other processes, as Windows answers for them.
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "SeamMachine.h"
#include "platform/KnownFolders.h"

using namespace platform;

TEST_F(SeamTest, RegistryViews) {
    const std::wstring key = L"SOFTWARE\\" + Unique();
    // The simulated machine runs the product, a 32-bit program: its
    // HKLM\SOFTWARE is the 32-bit view unless it asks for the 64-bit one.
    const bool redirected = seam::kSimulated || sizeof(void*) == 4;
    struct Cleanup {
        std::wstring key;
        ~Cleanup() {
            seam::DeleteMachineKey(key);
            seam::DeleteMachineKey(L"SOFTWARE\\WOW6432Node\\" + key.substr(9));
        }
    } cleanup{key};
    {
        auto created = Os().Registry().CreateKey(RegistryRoot::LocalMachine, key + L"\\Sub", kKeyWrite);
        ASSERT_TRUE(created) << created.Error();
        EXPECT_EQ((*created)->SetString(L"Value", L"default view"), 0u);
        auto native = Os().Registry().CreateKey(RegistryRoot::LocalMachine, key + L"\\Sub", kKeyWrite | kKeyWow64_64);
        ASSERT_TRUE(native);
        EXPECT_EQ((*native)->SetString(L"Value", L"64-bit view"), 0u);
    }
    std::wstring value;
    auto read = Os().Registry().OpenKey(RegistryRoot::LocalMachine, key + L"\\SUB", kKeyRead);
    ASSERT_TRUE(read);
    EXPECT_EQ((*read)->QueryString(L"value", value), 0u);
    EXPECT_EQ(value, redirected ? L"default view" : L"64-bit view");
    auto wow = Os().Registry().OpenKey(RegistryRoot::LocalMachine, L"SOFTWARE\\WOW6432Node\\" + Unique() + L"\\Sub",
                                       kKeyRead | kKeyWow64_64);
    ASSERT_EQ(static_cast<bool>(wow), redirected);
    if (wow) {
        EXPECT_EQ((*wow)->QueryString(L"Value", value), 0u);
        EXPECT_EQ(value, L"default view");
    }
    auto native = Os().Registry().OpenKey(RegistryRoot::LocalMachine, key + L"\\Sub", kKeyRead | kKeyWow64_64);
    ASSERT_TRUE(native);
    EXPECT_EQ((*native)->QueryString(L"Value", value), 0u);
    EXPECT_EQ(value, L"64-bit view");

    // Missing keys and values are 2; a key opened to read refuses writes.
    EXPECT_EQ(Os().Registry().OpenKey(RegistryRoot::LocalMachine, key + L"\\None", kKeyRead).Error(), kErrFileNotFound);
    EXPECT_EQ((*native)->QueryString(L"None", value), kErrFileNotFound);
    EXPECT_EQ((*native)->DeleteValue(L"Value"), kErrAccessDenied);
    auto writable = Os().Registry().OpenKey(RegistryRoot::LocalMachine, key + L"\\Sub", kKeyWrite | kKeyRead | kKeyWow64_64);
    ASSERT_TRUE(writable);
    EXPECT_EQ((*writable)->SetString(L"Cut", std::wstring(L"ab\0cd", 5)), 0u);
    EXPECT_EQ((*writable)->QueryString(L"cut", value), 0u);
    EXPECT_EQ(value, L"ab");
    EXPECT_EQ((*writable)->DeleteValue(L"VALUE"), 0u);
    EXPECT_EQ((*writable)->DeleteValue(L"Value"), kErrFileNotFound);
}

TEST_F(SeamTest, PrivateProfileFiles) {
    const std::wstring ini = In(L"settings.ini");
    EXPECT_EQ(Files().GetPrivateProfileInt(L"Main", L"Count", 7, ini), 7u);  // no file
    EXPECT_EQ(Files().WritePrivateProfileString(L"Main", L"Count", L"42", ini), 0u);
    EXPECT_EQ(Files().WritePrivateProfileString(L"Main", L"Text", L"abc", ini), 0u);
    EXPECT_EQ(Files().WritePrivateProfileString(L"Main", L"Empty", L"", ini), 0u);
    EXPECT_EQ(Files().WritePrivateProfileString(L"Other", L"Minus", L"-3", ini), 0u);
    EXPECT_EQ(Files().WritePrivateProfileString(L"Other", L"Lead", L"12abc", ini), 0u);
    EXPECT_EQ(Files().GetPrivateProfileInt(L"MAIN", L"count", 7, ini), 42u);
    EXPECT_EQ(Files().GetPrivateProfileInt(L"Main", L"Text", 7, ini), 0u);
    EXPECT_EQ(Files().GetPrivateProfileInt(L"Main", L"Empty", 7, ini), 7u);
    EXPECT_EQ(Files().GetPrivateProfileInt(L"Main", L"None", 7, ini), 7u);
    EXPECT_EQ(Files().GetPrivateProfileInt(L"None", L"Count", 7, ini), 7u);
    EXPECT_EQ(Files().GetPrivateProfileInt(L"other", L"minus", 7, ini), static_cast<uint32_t>(-3));
    EXPECT_EQ(Files().GetPrivateProfileInt(L"Other", L"Lead", 7, ini), 12u);
    // Rewriting a key replaces it in place.
    EXPECT_EQ(Files().WritePrivateProfileString(L"main", L"COUNT", L"5", ini), 0u);
    EXPECT_EQ(Files().GetPrivateProfileInt(L"Main", L"Count", 7, ini), 5u);
    EXPECT_EQ(ReadAll(ini).find("42"), std::string::npos);
}

TEST_F(SeamTest, CodePages) {
    ICodePages& pages = Os().CodePages();
    EXPECT_EQ(pages.FromWide(kCpUtf8, L"\u00e9\u20ac"), "\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(pages.ToWide(kCpUtf8, "\xc3\xa9"), L"\u00e9");
    EXPECT_EQ(pages.ToWide(kCpUtf8, "a\xff"), L"a\ufffd");
    EXPECT_EQ(pages.FromWide(1252, L"\u20ac\u00e9"), "\x80\xe9");
    EXPECT_EQ(pages.ToWide(1252, "\x80\xe9"), L"\u20ac\u00e9");
    EXPECT_EQ(pages.FromWide(1252, L"a\u4e2d"), "a?");
    EXPECT_EQ(pages.ToWide(1252, "\x81"), L"\u0081");
    EXPECT_EQ(pages.FromWide(437, L"\u00e9"), "\x82");
    EXPECT_EQ(pages.ToWide(437, "\x82"), L"\u00e9");
    EXPECT_EQ(pages.FromWide(932, L"\u65e5"), "\x93\xfa");
    EXPECT_EQ(pages.ToWide(932, "\x93\xfa"), L"\u65e5");
    // The machine's own pages: Western European, as Wine's default locale.
    EXPECT_EQ(pages.FromWide(kCpAcp, L"\u00e9"), "\xe9");
    EXPECT_EQ(pages.FromWide(kCpOemCp, L"\u00e9"), "\x82");
}

TEST_F(SeamTest, MachineFacts) {
    IMachineInfo& machine = Os().Machine();
    bool available = false;
    EXPECT_TRUE(machine.Is64BitWindows(available));
    EXPECT_TRUE(available);
    const std::vector<std::wstring> drives = machine.LogicalDrives();
    EXPECT_NE(std::find(drives.begin(), drives.end(), L"C:\\"), drives.end());
    EXPECT_EQ(machine.GetDriveType(L"C:\\"), DriveType::Fixed);
    const std::wstring windows = machine.SpecialFolder(csidl::kWindows);
    EXPECT_EQ(Files().CaseFoldedPath(windows), Files().CaseFoldedPath(L"C:\\Windows"));
    // Windows gives a 32-bit program (the simulated machine runs one)
    // SysWOW64; Wine 8 gives its 32-bit programs system32.
    const bool program32 = seam::kSimulated;
    EXPECT_EQ(Files().CaseFoldedPath(machine.SpecialFolder(csidl::kSystem)),
              Files().CaseFoldedPath(windows + (program32 ? L"\\SysWOW64" : L"\\system32")));
    EXPECT_EQ(Files().CaseFoldedPath(machine.SpecialFolder(csidl::kProgramFilesX86)),
              Files().CaseFoldedPath(L"C:\\Program Files (x86)"));
    EXPECT_TRUE(Files().Exists(machine.SpecialFolder(csidl::kCommonAppData)));
    EXPECT_EQ(Files().CaseFoldedPath(Os().Process().ExpandEnvironmentStrings(L"%SystemRoot%\\x %NoSuchSeamName%")),
              Files().CaseFoldedPath(windows + L"\\x %NoSuchSeamName%"));
    uint64_t fileTime = 1;
    EXPECT_TRUE(Os().Process().SystemTimeToFileTime(LocalTime{}, fileTime));
    EXPECT_EQ(fileTime, 0u);
}

namespace {

void ReadThroughNull(void*) {
    volatile int* volatile nowhere = nullptr;
    (void)*nowhere;
}

void DivideByZero(void* result) {
    volatile int zero = 0;
    *static_cast<int*>(result) = 7 / zero;
}

// An exception thrown and caught inside is the body's own affair.
void ThrowAndCatch(void* caught) {
    try {
        throw std::runtime_error("inside");
    } catch (const std::runtime_error&) {
        *static_cast<bool*>(caught) = true;
    }
}

struct Nested {
    GuardOutcome inner;
    bool after = false;
};

// A fault in a guard inside a guard ends the inner call only.
void FaultInAnInnerGuard(void* context) {
    auto& nested = *static_cast<Nested*>(context);
    nested.inner = Os().Process().RunGuarded(ReadThroughNull, nullptr);
    nested.after = true;
}

}  // namespace

TEST_F(SeamTest, GuardedCallsEndOnFaultsWithTheirCodes) {
    IProcessEnv& process = Os().Process();
    bool caught = false;
    EXPECT_TRUE(process.RunGuarded(ThrowAndCatch, &caught).Returned());
    EXPECT_TRUE(caught);
    if (!seam::FaultsReachTheGuard()) SEAM_SKIP("the sanitizer claims hardware faults first");
    // Under the i386 emulator Wine learns no trap number and reports
    // hardware faults with other codes; that a fault ends the call holds.
    const bool codesHold = sizeof(void*) == 8 || seam::kSimulated;
    for (int round = 0; round < 2; ++round) {
        const GuardOutcome fault = process.RunGuarded(ReadThroughNull, nullptr);
        EXPECT_EQ(fault.end, GuardOutcome::End::kException);
        if (codesHold) EXPECT_EQ(fault.exceptionCode, 0xC0000005u);
    }
    int quotient = 0;
    const GuardOutcome division = process.RunGuarded(DivideByZero, &quotient);
    EXPECT_EQ(division.end, GuardOutcome::End::kException);
    if (codesHold) EXPECT_EQ(division.exceptionCode, 0xC0000094u);

    Nested nested;
    EXPECT_TRUE(process.RunGuarded(FaultInAnInnerGuard, &nested).Returned());
    EXPECT_EQ(nested.inner.end, GuardOutcome::End::kException);
    EXPECT_TRUE(nested.after);
    // After all of that the thread's guard still serves.
    caught = false;
    EXPECT_TRUE(process.RunGuarded(ThrowAndCatch, &caught).Returned());
    EXPECT_TRUE(caught);
}

TEST_F(SeamTest, ProcessesStartWaitAndEnd) {
    IProcesses& processes = Os().Processes();
    EXPECT_EQ(processes.CreateProcess(L"\"" + In(L"none.exe") + L"\"", true).Error(), kErrFileNotFound);

    std::wstring exeFile;
    const std::wstring commandLine = seam::LingeringProgram(exeFile);
    auto started = processes.CreateProcess(commandLine, true);
    ASSERT_TRUE(started) << started.Error();
    EXPECT_EQ((*started)->Wait(100), kWaitTimeout);

    // Found in a snapshot by its file name, and ended through a handle.
    auto snapshot = processes.Snapshot();
    ASSERT_TRUE(snapshot);
    uint32_t id = 0;
    ProcessEntry entry;
    for (bool more = (*snapshot)->First(entry); more; more = (*snapshot)->Next(entry)) {
        if (Files().CaseFoldedPath(entry.exeFile) == Files().CaseFoldedPath(exeFile)) id = entry.id;
    }
    EXPECT_EQ(Os().Process().LastError(), kErrNoMoreFiles);
    ASSERT_NE(id, 0u);
    std::vector<uint32_t> ids;
    EXPECT_EQ(processes.ListProcessIds(ids), 0u);
    EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end());
    {
        auto looking = processes.Open(id, kProcessQueryInformation);
        ASSERT_TRUE(looking);
        EXPECT_EQ((*looking)->Terminate(1), kErrAccessDenied);
    }
    auto process = processes.Open(id, kProcessTerminate);
    ASSERT_TRUE(process) << process.Error();
    EXPECT_EQ((*process)->Terminate(1), 0u);
    EXPECT_EQ((*started)->Wait(30000), kWaitObject0);
    // Windows refuses to end an ended process with 5; Wine 8 reports success.
    EXPECT_EQ((*process)->Terminate(1), seam::kSimulated ? kErrAccessDenied : 0u);
}
