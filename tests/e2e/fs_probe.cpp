// Runs the folder helpers against the real Win32 back end: builds a tree
// with a read-only file under the folder named on the command line, deletes
// it, and checks what Windows left. Exits non-zero on any mismatch.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

int g_mismatches = 0;

void Check(const char* what, bool ok) {
    std::printf("%s %s\n", ok ? "ok      " : "MISMATCH", what);
    if (!ok) ++g_mismatches;
}

bool WriteText(const std::wstring& path, const std::string& text) {
    const auto file = platform::Os().Files().Open(path, platform::OpenMode::Truncate);
    return file && (*file)->Write(text.data(), text.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fs_probe WORK_FOLDER\n");
        return 2;
    }
    logging::Setup(L"fs_probe.log", nullptr);
    platform::IFileSystem& files = platform::Os().Files();
    const std::wstring root = AnsiToWide(platform::Os().CodePages(), argv[1]) + L"\\probe";
    const std::wstring readOnly = root + L"\\sub\\ro.txt";
    files.SetAttributes(readOnly, platform::kAttrNormal);  // a run that stopped halfway
    DeleteDir(platform::Os(), root);

    Check("CreateDirTree builds the missing folders", CreateDirTree(platform::Os().Files(), root + L"\\sub\\deep\\"));
    bool written = true;
    for (const wchar_t* name : {L"\\a.txt", L"\\sub\\b.txt", L"\\sub\\deep\\c.txt", L"\\sub\\ro.txt"}) {
        written = WriteText(root + name, "0123456789") && written;
    }
    Check("files written", written);
    Check("read-only attribute set", files.SetAttributes(readOnly, platform::kAttrReadOnly) == 0);
    // Names the plain form would rewrite, made through the literal one: a
    // walk must reach them by name and never take "..." for its parent.
    const std::wstring literal = L"\\\\?\\" + root;
    const bool oddNames = files.CreateDirectory(literal + L"\\...") == 0 &&
                          files.CreateDirectory(literal + L"\\trail.") == 0 &&
                          WriteText(literal + L"\\...\\d.txt", "0123456789") &&
                          WriteText(literal + L"\\trail.\\e.txt", "0123456789");
    Check("folders named with dots made literally", oddNames);

    std::vector<std::wstring> found, folders;
    uint64_t total = 0;
    Check("EnumDir lists the tree, names of dots once each",
          EnumDir(platform::Os().Files(), root, found, folders, total, true) && found.size() == 6 &&
              folders.size() == 4 && total == 60 && GetDirSize(platform::Os().Files(), root) == 60);

    const bool first = DeleteDir(platform::Os(), root);
    std::printf("DeleteDir with a read-only file = %s\n", first ? "true" : "false");
    Check("DeleteDir reports the read-only file", !first);
    Check("the read-only file remains", FileExists(platform::Os().Files(), readOnly));
    Check("everything else is gone", !FileExists(platform::Os().Files(), root + L"\\a.txt") &&
                                         !FileExists(platform::Os().Files(), root + L"\\sub\\b.txt") &&
                                         !FileExists(platform::Os().Files(), root + L"\\sub\\deep") &&
                                         !FileExists(platform::Os().Files(), literal + L"\\...") &&
                                         !FileExists(platform::Os().Files(), literal + L"\\trail."));

    uint64_t size = 0;
    char* data = ReadWholeFile(platform::Os().Files(), readOnly, &size);
    Check("ReadWholeFile reads it whole", data != nullptr && size == 10 && std::string(data) == "0123456789");
    std::free(data);
    Check("GetFileSizeByPath agrees", GetFileSizeByPath(platform::Os().Files(), readOnly) == 10);

    files.SetAttributes(readOnly, platform::kAttrNormal);
    const bool second = DeleteDir(platform::Os(), root);
    std::printf("DeleteDir once writable = %s\n", second ? "true" : "false");
    Check("DeleteDir removes the rest", second && !FileExists(platform::Os().Files(), root));

    std::printf("%d mismatch(es)\n", g_mismatches);
    return g_mismatches == 0 ? 0 : 1;
}
