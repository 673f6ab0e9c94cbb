// Initialisation files of the simulated machine, read and written the way
// the kernel's private-profile functions treat them: "[section]" headers and
// "key=value" lines, names compared without regard to case and blanks around
// them ignored, the file rewritten whole on every change. A file keeps the
// encoding it had (UTF-16 or UTF-8 with a byte-order mark, otherwise the
// ANSI code page, which is also what a new file gets).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/sim/store/Machine.h"

namespace sim {

class SimProfileFile {
public:
    // A bare file name lies in the Windows folder, as it does on Windows.
    SimProfileFile(std::shared_ptr<Machine> machine, const std::wstring& path);

    uint32_t GetInt(const std::wstring& section, const std::wstring& key, int32_t defaultValue);
    uint32_t WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value);

private:
    std::shared_ptr<Machine> machine_;
    std::wstring path_;
};

}  // namespace sim
