#include "SeamMachine.h"

#include <cstring>
#include <cwctype>

namespace {

// Removes what a case left in its folder, through the seam. Links are
// removed as themselves, never followed: a case's junction may lead to
// anything.
void RemoveTree(platform::IFileSystem& files, const std::wstring& folder) {
    platform::FindData entry;
    auto search = files.FindFirst(folder + L"\\*", entry);
    if (search) {
        do {
            if (entry.name == L"." || entry.name == L"..") continue;
            const std::wstring path = folder + L"\\" + entry.name;
            files.SetAttributes(path, platform::kAttrNormal);
            if (entry.IsDirectory() && !entry.IsReparsePoint()) RemoveTree(files, path);
            if (entry.IsDirectory()) {
                files.RemoveDirectory(path);
            } else {
                files.DeleteFile(path);
            }
        } while ((*search)->Next(entry));
    }
    files.RemoveDirectory(folder);
}

}  // namespace

void SeamTest::SetUp() {
    seam::SetUpMachine();
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    unique_ = L"BrisalenSeam-" + std::to_wstring(Os().Process().CurrentProcessId()) + L"-" +
              std::wstring(name.begin(), name.end());
    folder_ = L"C:\\" + unique_;
    // Wine reuses process numbers, so a run cut short may have left a
    // folder of this very name in the shared prefix.
    if (Files().Exists(folder_)) RemoveTree(Files(), folder_);
    ASSERT_EQ(Files().CreateDirectory(folder_), 0u);
}

void SeamTest::TearDown() {
    // Only ever a folder of this suite's naming.
    if (folder_.rfind(L"C:\\BrisalenSeam-", 0) == 0) RemoveTree(Files(), folder_);
    EXPECT_FALSE(Files().Exists(folder_));
    seam::TearDownMachine();
}

void SeamTest::Write(const std::wstring& path, const std::string& text) {
    auto file = Files().Open(path, platform::OpenMode::Truncate);
    ASSERT_TRUE(file) << "error " << file.Error();
    ASSERT_TRUE((*file)->Write(text.data(), text.size()));
}

std::string SeamTest::ReadAll(const std::wstring& path) {
    auto file = Files().Open(path, platform::OpenMode::Read);
    if (!file) return {};
    std::string text(static_cast<size_t>((*file)->Size()), '\0');
    text.resize((*file)->Read(text.data(), text.size()));
    return text;
}
