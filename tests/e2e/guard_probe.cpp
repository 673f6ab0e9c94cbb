// Runs the deletion guard against the real Win32 back end. The scenario has
// made links in the prefix (LINK_FOLDER\Docs leading to the user's
// Documents, and the stock "Documents and Settings" where Wine lacks it);
// the probe plants sentinel files in the folders no deletion may take,
// aims deletions at them through the links and in other spellings, and
// checks that each sentinel is still there and that a folder that may go
// still goes through a link. Exits non-zero on any mismatch.
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/KnownFolders.h"
#include "platform/Platform.h"

namespace {

int g_mismatches = 0;

void Check(const std::string& what, bool ok) {
    std::printf("%s %s\n", ok ? "ok      " : "MISMATCH", what.c_str());
    if (!ok) ++g_mismatches;
}

std::string Narrow(const std::wstring& text) { return WideToNarrow(platform::Os().CodePages(), text); }

bool WriteText(const std::wstring& path, const std::string& text) {
    std::wstring folder;
    if (GetParentDir(path, folder)) CreateDirTree(platform::Os().Files(), folder);
    const auto file = platform::Os().Files().Open(path, platform::OpenMode::Truncate);
    return file && (*file)->Write(text.data(), text.size());
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    platform::IFileSystem& files = platform::Os().Files();
    return files.CaseFoldedPath(a) == files.CaseFoldedPath(b);
}

// A junction made as mklink /j makes one: a folder with a mount-point
// reparse point naming the target's NT path. The error code when the file
// system will not have it.
DWORD MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return GetLastError();
    HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return GetLastError();
    const std::wstring substitute = L"\\??\\" + target;
    const USHORT substituteBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    const USHORT printBytes = static_cast<USHORT>(target.size() * sizeof(wchar_t));
    // Tag, data length, reserved; then the four offsets and lengths; then
    // both names, each with its terminating null.
    std::vector<unsigned char> buffer(8 + 8 + substituteBytes + 2 + printBytes + 2, 0);
    auto put16 = [&](size_t at, USHORT value) { std::memcpy(&buffer[at], &value, 2); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(&buffer[0], &tag, 4);
    put16(4, static_cast<USHORT>(buffer.size() - 8));
    put16(8, 0);
    put16(10, substituteBytes);
    put16(12, static_cast<USHORT>(substituteBytes + 2));
    put16(14, printBytes);
    std::memcpy(&buffer[16], substitute.data(), substituteBytes);
    std::memcpy(&buffer[16 + substituteBytes + 2], target.data(), printBytes);
    DWORD returned = 0;
    const BOOL made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      nullptr, 0, &returned, nullptr);
    const DWORD error = made ? 0 : GetLastError();
    CloseHandle(folder);
    if (!made) RemoveDirectoryW(link.c_str());
    return error;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: guard_probe LINK_FOLDER\n");
        return 2;
    }
    logging::Setup(L"guard_probe.log", nullptr);
    platform::IMachineInfo& machine = platform::Os().Machine();
    platform::IFileSystem& files = platform::Os().Files();
    const std::wstring links = AnsiToWide(platform::Os().CodePages(), argv[1]);
    const std::wstring profile = machine.SpecialFolder(platform::csidl::kProfile);
    const std::wstring documents = machine.SpecialFolder(platform::csidl::kPersonal);
    const std::wstring programData = machine.SpecialFolder(platform::csidl::kCommonAppData);
    const std::wstring windows = machine.SpecialFolder(platform::csidl::kWindows);
    const std::wstring user = GetFileNameFromPath(profile);

    const std::vector<std::wstring> sentinels = {
        documents + L"\\brisalen-keep.txt",
        profile + L"\\Pictures\\brisalen-keep.txt",
        programData + L"\\Microsoft\\brisalen-keep.txt",
        windows + L"\\brisalen-keep.txt",
        machine.SpecialFolder(platform::csidl::kProgramFiles) + L"\\Common Files\\brisalen-keep.txt",
    };
    bool written = true;
    for (const std::wstring& file : sentinels) written = WriteText(file, "keep") && written;
    Check("sentinels written", written);

    const std::wstring final = files.FinalPathName(links + L"\\Docs\\not-there\\x.txt");
    std::printf("FinalPathName(%s\\Docs\\not-there\\x.txt) = %s\n", Narrow(links).c_str(), Narrow(final).c_str());
    Check("a link in an ancestor resolves to its target, the missing tail kept",
          SamePath(final, documents + L"\\not-there\\x.txt"));
    Check("a drive root resolves to itself", SamePath(files.FinalPathName(L"C:\\"), L"C:\\"));

    // A real junction too, where this Wine makes them.
    const std::wstring junction = links + L"\\Junction";
    const DWORD junctionError = MakeJunction(junction, documents);
    std::printf("junction %s -> %s: %s (%lu)\n", Narrow(junction).c_str(), Narrow(documents).c_str(),
                junctionError == 0 ? "made" : "not made", static_cast<unsigned long>(junctionError));
    if (junctionError == 0) {
        Check("a junction reports the reparse-point attribute",
              (files.GetAttributes(junction) & platform::kAttrReparsePoint) != 0);
        Check("a junction in an ancestor resolves to its target",
              SamePath(files.FinalPathName(junction + L"\\x.txt"), documents + L"\\x.txt"));
    }

    std::vector<std::wstring> hostile = {
        links + L"\\Docs",
        links + L"\\Docs\\",
        links + L"\\Docs\\..\\Docs",
        links + L"\\Profile",
        links + L"\\Data\\Microsoft",
        L"C:\\Documents and Settings\\" + user + L"\\Documents",
        L"C:\\Documents and Settings\\" + user,
        L"\\\\localhost\\C$\\users\\" + user + L"\\Documents",
        L"\\\\.\\C:\\users\\" + user + L"\\Pictures",
        L"\\\\?\\C:\\users\\" + user + L"\\Pictures",
        L"C:\\Program Fıles\\Common Files",  // dotless i
        L"C:\\uſers\\" + user,              // long s
        L"C:\\WINDOWS\\.",
    };
    if (junctionError == 0) hostile.push_back(junction);
    for (const std::wstring& folder : hostile) {
        DeleteDir(platform::Os(), folder);
        DeleteProductDir(platform::Os(), folder, {});
        bool kept = true;
        for (const std::wstring& file : sentinels) kept = FileExists(platform::Os().Files(), file) && kept;
        Check("nothing protected deleted through " + Narrow(folder), kept);
    }

    // What is no protected folder still goes when named through a link.
    const std::wstring doomed = documents + L"\\brisalen-doomed";
    WriteText(doomed + L"\\sub\\a.txt", "go");
    Check("a folder below a link's target goes through the link",
          DeleteDir(platform::Os(), links + L"\\Docs\\brisalen-doomed") && !FileExists(platform::Os().Files(), doomed));

    for (const std::wstring& file : sentinels) files.DeleteFile(file);
    if (junctionError == 0) RemoveDirectoryW(junction.c_str());
    return g_mismatches == 0 ? 0 : 1;
}
