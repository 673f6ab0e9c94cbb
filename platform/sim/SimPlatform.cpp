#include "platform/sim/SimPlatform.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/NoDestructor.h"

namespace sim {

SimPlatform::SimPlatform(std::shared_ptr<sim::Machine> machine)
    : machine_(std::move(machine)),
      files_(machine_),
      info_(machine_),
      process_(machine_),
      processes_(machine_),
      codePages_(machine_),
      installer_(machine_),
      libraries_(machine_),
      registry_(machine_),
      services_(machine_) {}

namespace {

class PlatformRegistry {
public:
    SimPlatform& Current() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!current_) current_ = std::make_shared<SimPlatform>(Machine::Open(DefaultMachineFolder()));
        return *current_;
    }

    void Use(std::shared_ptr<Machine> machine) {
        std::lock_guard<std::mutex> lock(mutex_);
        // Callers may still hold references into the old platform, so it is
        // retired rather than destroyed.
        if (current_) retired_.push_back(std::move(current_));
        if (machine) current_ = std::make_shared<SimPlatform>(std::move(machine));
    }

private:
    std::mutex mutex_;
    std::shared_ptr<SimPlatform> current_;
    std::vector<std::shared_ptr<SimPlatform>> retired_;
};

PlatformRegistry& Platforms() {
    // Never destroyed: detached workers may still reach Os() while static
    // objects are torn down at exit.
    static platform::NoDestructor<PlatformRegistry> registry;
    return *registry;
}

}  // namespace

void UseMachine(std::shared_ptr<Machine> machine) { Platforms().Use(std::move(machine)); }

std::shared_ptr<Machine> CurrentMachine() { return Platforms().Current().SimulatedMachine(); }

std::string DefaultMachineFolder() {
    if (const char* folder = std::getenv("BRISALEN_MACHINE"); folder && *folder) return folder;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/brisalen/machine";
}

}  // namespace sim

namespace platform {

Platform& Os() { return sim::Platforms().Current(); }

}  // namespace platform
