// A simulated machine in a temporary folder for one benchmark, made the one
// the seam acts on and removed with the object.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/sim/store/Machine.h"
#include "platform/sim/SimPlatform.h"

class ScratchMachine {
public:
    ScratchMachine() {
        char folder[] = "/tmp/brisalen-bench-XXXXXX";
        if (!::mkdtemp(folder)) throw std::runtime_error("cannot create a temporary folder");
        folder_ = folder;
        machine_ = sim::Machine::Open(folder_);
        sim::UseMachine(machine_);
    }
    ~ScratchMachine() {
        sim::UseMachine(nullptr);
        machine_.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    ScratchMachine(const ScratchMachine&) = delete;
    ScratchMachine& operator=(const ScratchMachine&) = delete;

    sim::Machine& Get() { return *machine_; }
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
    std::shared_ptr<sim::Machine> machine_;
};
