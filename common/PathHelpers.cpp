#include "common/PathHelpers.h"

#include "platform/Platform.h"

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    if (from.empty()) return;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::wstring::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

void NormalizePath(std::wstring& path) {
    ReplaceAll(path, L"/", L"\\");
    ReplaceAll(path, L"\\\\", L"\\");
}

bool FileExists(std::wstring path) {
    NormalizePath(path);
    return platform::Os().Files().Exists(path);
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

const wchar_t* GetExeDir() {
    static const std::wstring folder = [] {
        std::wstring parent;
        GetParentDir(platform::Os().Process().ExecutablePath(), parent);
        return parent;
    }();
    return folder.c_str();
}
