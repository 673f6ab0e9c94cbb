// The few file operations the library file needs, for Windows (wide paths)
// and POSIX (UTF-8 paths).
#pragma once

#include <string>

namespace itl {

#if defined(_WIN32)
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

NativePath ToNativePath(const std::wstring& path);

enum class ReadOutcome { Ok, Missing, Failed };
ReadOutcome ReadWholeFile(const NativePath& path, std::string& bytes);

bool PathExists(const NativePath& path);

enum class WriteOutcome { Ok, Failed, ReadOnly, InUse };

// The name of the n-th backup of `target`: "<target>.bak" first, then
// "<target>.1.bak", "<target>.2.bak" and so on.
NativePath BackupName(const NativePath& target, unsigned number);
// Backups tried before a write gives up rather than overwrite one.
constexpr unsigned kMaxBackups = 1000;

// Puts `bytes` at `target` in one step: a temporary file beside the target
// is written and flushed, the previous target is copied to the first free
// backup name (BackupName), and the temporary is renamed over the target.
//
// An earlier backup is never replaced. Keeping only the first would not do:
// between two updates the player adds tracks, and the entries a second
// update removes from that newer state would then be in no backup at all.
// The backups are few (one per update that changed something), and the
// user may delete them; a free name is taken only by creating it, so two
// writers never share one.
//
// A read-only target, or one another process holds open, is left as it is
// before anything is created. On failure the target is unchanged (a new
// backup may already hold a copy of it when only the last step failed) and
// the temporaries are gone. The only files ever removed are the temporaries
// this call itself created (exclusive creation), so no value of `target`
// can make it remove anything else.
WriteOutcome ReplaceFileContents(const NativePath& target, const std::string& bytes);

}  // namespace itl
