#include "common/PathHelpers.h"

#include "platform/NoDestructor.h"
#include "platform/FileSystem.h"
#include "platform/ProcessEnv.h"

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    if (from.empty()) return;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::wstring::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

void NormalizePath(std::wstring& path) {
    // A leading "\\?\" is the literal form the library itself gives to
    // names Win32 would rewrite; folding it would change which file is meant.
    const bool literal = path.rfind(L"\\\\?\\", 0) == 0;
    if (literal) path.erase(0, 4);
    ReplaceAll(path, L"/", L"\\");
    ReplaceAll(path, L"\\\\", L"\\");
    if (literal) path.insert(0, L"\\\\?\\");
}

bool FileExists(platform::IFileSystem& files, std::wstring path) {
    NormalizePath(path);
    return files.Exists(path);
}

void RemoveTrailingBackslash(std::wstring& path) {
    if (path.empty()) return;
    NormalizePath(path);
    if (path.size() > 1 && path.back() == L'\\') path.pop_back();
}

void AddTrailingBackslash(std::wstring& path) {
    if (path.empty()) return;
    NormalizePath(path);
    if (path.size() > 1 && path.back() != L'\\') path.push_back(L'\\');
}

bool GetParentDir(std::wstring path, std::wstring& folder) {
    NormalizePath(path);
    const size_t cut = path.rfind(L'\\');
    if (cut == std::wstring::npos) return false;
    folder = path.substr(0, cut);
    return true;
}

std::wstring GetFileNameFromPath(std::wstring path) {
    NormalizePath(path);
    const size_t cut = path.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : path.substr(cut + 1);
}

std::wstring ProgramFolderOf(const std::wstring& programPath) {
    // Taken as Windows gives it: normalising would fold the leading "\\" of
    // a UNC or "\\?\" path into one backslash.
    const size_t cut = programPath.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : programPath.substr(0, cut);
}

const wchar_t* GetExeDir(platform::IProcessEnv& process) {
    // Kept for the whole process, as callers hold the pointer; the program
    // does not change while it runs.
    static const platform::NoDestructor<std::wstring> folder(ProgramFolderOf(process.ExecutablePath()));
    return folder->c_str();
}
