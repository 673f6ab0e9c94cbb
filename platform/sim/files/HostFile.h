// An open file of the simulated machine: a host descriptor behind IFile.
#pragma once

#include <memory>

#include "platform/FileSystem.h"
#include "base/UniqueFd.h"

namespace sim {

class HostFile : public platform::IFile {
public:
    // `hold` keeps the file from other writers and from deletion until the
    // file closes (Machine::HoldWhileOpen); null for a shared open.
    explicit HostFile(base::UniqueFd fd, std::shared_ptr<void> hold = nullptr)
        : fd_(std::move(fd)), hold_(std::move(hold)) {}
    uint64_t Size() override;
    size_t Read(void* buffer, size_t count) override;
    bool Write(const void* data, size_t count) override;

private:
    base::UniqueFd fd_;
    std::shared_ptr<void> hold_;
};

}  // namespace sim
