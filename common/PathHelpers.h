// Path text and existence tests. Paths are Windows paths; these helpers keep
// the exact normalisation the rest of the library compares paths with.
#pragma once

#include <string>

namespace platform {
class IFileSystem;
class IProcessEnv;
}  // namespace platform

// Every "/" becomes "\", then every "\\" becomes "\" in one left-to-right
// pass, so three backslashes become two. A leading "\\?\" is kept.
void NormalizePath(std::wstring& path);
// True for files and folders alike, after normalising a copy.
bool FileExists(platform::IFileSystem& files, std::wstring path);
void RemoveTrailingBackslash(std::wstring& path);
void AddTrailingBackslash(std::wstring& path);
// The text before the last "\" of the normalised path; false (and `folder`
// untouched) when there is none.
bool GetParentDir(std::wstring path, std::wstring& folder);
std::wstring GetFileNameFromPath(std::wstring path);
// The host program's folder without a trailing backslash, computed once.
const wchar_t* GetExeDir(platform::IProcessEnv& process);
// The folder part of a program's full path as Windows reports it, kept
// as it stands (UNC and "\\?\" forms included).
std::wstring ProgramFolderOf(const std::wstring& programPath);

// Replaces every occurrence of `from` by `to` in one left-to-right pass.
void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to);
