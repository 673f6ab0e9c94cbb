// What the seam suite needs of a machine beyond the seam itself: a fresh
// simulated machine for each case on Linux, the Wine prefix as it is in the
// Windows builds, and the few set-up steps the seam has no call for (a link,
// a key tree removed, a package from the build tree). Each back end has its
// own SeamMachine*.cpp; the cases themselves see only platform::Os().
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/Platform.h"

// Skips the rest of a case whose rule this machine cannot show, saying
// why. The 32-bit build under Wine and the i386 emulator dies in Wine's
// client (stack smashing detected) as soon as GoogleTest records a skip,
// so there the reason is printed and the case returns, counted as passed.
#if defined(_WIN32) && !defined(_WIN64)
#define SEAM_SKIP(reason)                                                  \
    do {                                                                   \
        std::printf("[  SKIP    ] %s\n", std::string(reason).c_str()); \
        std::fflush(stdout);                                               \
        return;                                                            \
    } while (false)
#else
#define SEAM_SKIP(reason) GTEST_SKIP() << (reason)
#endif

namespace seam {

// True against the simulated machine, false against Win32 (Wine).
extern const bool kSimulated;
// Whether a hardware fault reaches the seam's fault guard: not where a
// sanitizer claims it first.
bool FaultsReachTheGuard();

void SetUpMachine();
void TearDownMachine();

// The Windows path under which the machine sees `hostPath`, a file of the
// build tree, copied into `folder` where the machine cannot reach the build
// tree itself.
std::wstring ImportFile(const std::string& hostPath, const std::wstring& folder);
// Makes `link` a junction or a symbolic link to the folder `target`; a
// Windows error code, 0 on success.
uint32_t MakeLink(const std::wstring& link, const std::wstring& target, bool junction);
// Makes the existing folder `folder` a reparse point that is no link (a
// tag without the name-surrogate bit), as a cloud placeholder folder is;
// the tag it carries in `tag`. A Windows error code, 0 on success.
uint32_t MakePlaceholder(const std::wstring& folder, uint32_t& tag);
// RegDeleteTree of HKLM\`path` in the 64-bit view.
void DeleteMachineKey(const std::wstring& path);
// A command line whose program runs for a minute unless ended, and the file
// name a process snapshot lists it under.
std::wstring LingeringProgram(std::wstring& exeFile);

}  // namespace seam

// Each case gets a folder of its own in the machine's C:\, named for the
// process and the case so that runs sharing one Wine prefix never meet,
// removed with everything in it afterwards.
class SeamTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    platform::Platform& Os() { return platform::Os(); }
    platform::IFileSystem& Files() { return Os().Files(); }
    // A name unique to this process and case ("BrisalenSeam-1234-Files").
    const std::wstring& Unique() const { return unique_; }
    // folder_ + "\\" + name.
    std::wstring In(const std::wstring& name) const { return folder_ + L"\\" + name; }
    // Creates or replaces a file with `text` through the seam.
    void Write(const std::wstring& path, const std::string& text);
    // Reads a whole file through the seam; empty when it does not open.
    std::string ReadAll(const std::wstring& path);

    std::wstring unique_;
    std::wstring folder_;
};
