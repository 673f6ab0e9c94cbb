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

// Puts `bytes` at `target` in one step: a temporary file beside the target
// is written and flushed, the previous target is copied to "<target>.bak"
// (replacing an older one, also in one step), and the temporary is renamed
// over the target. On failure the target is unchanged (the .bak may already
// hold a copy of it when only the last step failed) and the temporaries are
// gone. The only files ever removed are the temporaries this call itself
// created (exclusive creation), so no value of `target` can make it remove
// anything else.
bool ReplaceFileContents(const NativePath& target, const std::string& bytes);

}  // namespace itl
