// The CSIDL numbers of the shell folders the library asks the machine for
// (SHGetSpecialFolderPathW). One table for every layer and both back ends.
#pragma once

namespace platform::csidl {

constexpr int kPersonal = 0x05;  // Documents
constexpr int kMyMusic = 0x0d;
constexpr int kDesktopDirectory = 0x10;
constexpr int kAppData = 0x1a;
constexpr int kLocalAppData = 0x1c;
constexpr int kCommonAppData = 0x23;  // ProgramData
constexpr int kWindows = 0x24;
constexpr int kSystem = 0x25;
constexpr int kProgramFiles = 0x26;
constexpr int kProfile = 0x28;
constexpr int kSystemX86 = 0x29;
constexpr int kProgramFilesX86 = 0x2a;
constexpr int kProgramFilesCommon = 0x2b;
constexpr int kProgramFilesCommonX86 = 0x2c;

}  // namespace platform::csidl
