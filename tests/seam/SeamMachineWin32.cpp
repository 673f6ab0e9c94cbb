// The seam suite against the Win32 back end, on the machine it runs on (the
// test Wine prefix).
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <vector>

#include "SeamMachine.h"

namespace seam {

const bool kSimulated = false;

bool FaultsReachTheGuard() { return true; }

void SetUpMachine() {}
void TearDownMachine() {}

// Wine's Z: drive is the build machine's root.
std::wstring ImportFile(const std::string& hostPath, const std::wstring& /*folder*/) {
    std::wstring path = L"Z:";
    for (char c : hostPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

namespace {

// The mount-point layout of REPARSE_DATA_BUFFER, which only the DDK headers
// declare.
struct MountPointBuffer {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset, substituteLength, printOffset, printLength;
    WCHAR paths[1];
};

uint32_t MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!::CreateDirectoryW(link.c_str(), nullptr)) return ::GetLastError();
    HANDLE handle = ::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        ::RemoveDirectoryW(link.c_str());
        return error;
    }
    const std::wstring substitute = L"\\??\\" + target;
    const size_t pathBytes = (substitute.size() + 1 + target.size() + 1) * sizeof(WCHAR);
    std::vector<BYTE> bytes(offsetof(MountPointBuffer, paths) + pathBytes);
    auto* buffer = reinterpret_cast<MountPointBuffer*>(bytes.data());
    buffer->tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer->dataLength = static_cast<WORD>(bytes.size() - 8);
    buffer->substituteLength = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    buffer->printOffset = static_cast<WORD>(buffer->substituteLength + sizeof(WCHAR));
    buffer->printLength = static_cast<WORD>(target.size() * sizeof(WCHAR));
    std::copy(substitute.begin(), substitute.end(), buffer->paths);
    std::copy(target.begin(), target.end(), buffer->paths + substitute.size() + 1);
    DWORD returned = 0;
    const BOOL set = ::DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, bytes.data(), static_cast<DWORD>(bytes.size()),
                                       nullptr, 0, &returned, nullptr);
    const DWORD error = set ? 0 : ::GetLastError();
    ::CloseHandle(handle);
    if (!set) ::RemoveDirectoryW(link.c_str());
    return error;
}

}  // namespace

uint32_t MakeLink(const std::wstring& link, const std::wstring& target, bool junction) {
    if (junction) return MakeJunction(link, target);
    return ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ? 0 : ::GetLastError();
}

// The cloud tags are the cloud filter's own; a third party's tag, set with
// a GUID buffer, makes the same kind of reparse point: no name surrogate,
// its files where it stands.
uint32_t MakePlaceholder(const std::wstring& folder, uint32_t& tag) {
    tag = 0x00000099;
    HANDLE handle = ::CreateFileW(folder.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
    REPARSE_GUID_DATA_BUFFER buffer{};
    buffer.ReparseTag = tag;
    buffer.ReparseGuid = GUID{0x6b1f3c2a, 0x53d4, 0x4e0b, {0x9a, 0x61, 0x2c, 0x8e, 0x17, 0x40, 0xb3, 0x5d}};
    DWORD returned = 0;
    const BOOL set = ::DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &buffer, REPARSE_GUID_DATA_BUFFER_HEADER_SIZE,
                                       nullptr, 0, &returned, nullptr);
    const DWORD error = set ? 0 : ::GetLastError();
    ::CloseHandle(handle);
    return error;
}

void DeleteMachineKey(const std::wstring& path) {
    // The registry here is a real one: only a key of the suite's own
    // naming is ever removed.
    const size_t cut = path.rfind(L'\\');
    if (cut == std::wstring::npos || path.compare(cut + 1, 13, L"BrisalenSeam-") != 0) return;
    HKEY parent = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.substr(0, cut).c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        &parent) != ERROR_SUCCESS) {
        return;
    }
    ::RegDeleteTreeW(parent, path.substr(cut + 1).c_str());
    ::RegCloseKey(parent);
}

// This program itself, started with --linger.
std::wstring LingeringProgram(std::wstring& exeFile) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path = self;
    exeFile = path.substr(path.rfind(L'\\') + 1);
    return L"\"" + path + L"\" --linger 60";
}

}  // namespace seam
