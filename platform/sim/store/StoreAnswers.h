// A seam call of the simulated machine answers a Windows code, never an
// exception: machine.json failing under a call is to that call what a
// damaged hive or a failing disk is to its Windows counterpart. Only the
// machine's own set-up (Machine::Open, the host's machine commands) reports
// a store failure by throwing.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/Result.h"
#include "platform/Types.h"
#include "platform/sim/store/MachineStore.h"

namespace sim {

// What a family of seam calls answers for each kind of store failure.
struct StoreFailureCodes {
    uint32_t unreadable;
    uint32_t corrupt;
    uint32_t unwritable;

    uint32_t For(StoreError::Kind kind) const {
        switch (kind) {
            case StoreError::Kind::Unreadable: return unreadable;
            case StoreError::Kind::Corrupt: return corrupt;
            case StoreError::Kind::Unwritable: return unwritable;
        }
        return unreadable;
    }
};

// The registry's own answers for a hive it cannot read, one whose structure
// is damaged, and one it cannot write back. The service manager keeps its
// database in the registry and answers the same.
inline constexpr StoreFailureCodes kRegistryStoreFailure{platform::kErrRegistryIoFailed, platform::kErrRegistryCorrupt,
                                                         platform::kErrRegistryIoFailed};
// Windows Installer: its queries answer that the configuration data is
// corrupt, its installs and configurations that the install failed.
inline constexpr StoreFailureCodes kInstallerQueryStoreFailure{
    platform::kErrBadConfiguration, platform::kErrBadConfiguration, platform::kErrBadConfiguration};
inline constexpr StoreFailureCodes kInstallerActionStoreFailure{
    platform::kErrInstallFailure, platform::kErrInstallFailure, platform::kErrInstallFailure};

// Runs `call`, which answers a uint32_t code or a platform::Result, and
// turns a store failure under it into the code `codes` gives.
template <typename Call>
auto AnswerStoreFailure(const StoreFailureCodes& codes, Call&& call) -> decltype(call()) {
    using Answer = decltype(call());
    try {
        return call();
    } catch (const StoreError& failure) {
        const uint32_t code = codes.For(failure.kind());
        if constexpr (std::is_same_v<Answer, uint32_t>) {
            return code;
        } else {
            return Answer(platform::Failure(code));
        }
    }
}

}  // namespace sim
