// An open file of the simulated machine: a host descriptor behind IFile.
#pragma once

#include "platform/FileSystem.h"
#include "platform/sim/UniqueFd.h"

namespace sim {

class HostFile : public platform::IFile {
public:
    explicit HostFile(UniqueFd fd) : fd_(std::move(fd)) {}
    uint64_t Size() override;
    size_t Read(void* buffer, size_t count) override;
    bool Write(const void* data, size_t count) override;

private:
    UniqueFd fd_;
};

}  // namespace sim
