// The user-data scan and deletion on the Win32 back end against the bare
// Win32 calls the same work cannot do without, on the profile
// scripts/bench-wine.sh seeds into its Wine prefix:
//
//   scan ROUNDS           the quick pass over the scan roots against a bare
//                         FindFirstFileExW walk of the same folders
//   deep ROUNDS           the deep pass over the fixed drives outside the
//                         roots against the same bare walk there
//   delete LIBRARY ROUNDS the deletion of the music category and of a
//                         backup against a bare DeleteFileW /
//                         RemoveDirectoryW loop over the same files; LIBRARY
//                         is the profile's library file, which the deletion
//                         of media rewrites and each round gets back
//   peak WHAT [LIBRARY]   the peak working set of one quick scan, deep scan,
//                         or deletion of the music category or a backup in
//                         this fresh process
#pragma once

#include <string>

namespace winbench {

int RunScanBench(bool deep, int rounds);
int RunDeleteBench(const std::wstring& libraryFile, int rounds);
int RunPeak(const std::string& what, const std::wstring& libraryFile);

}  // namespace winbench
