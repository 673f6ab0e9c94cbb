// machine.json <-> MachineState. Only the keys this layer understands are
// read or written here; the caller keeps the rest of the document.
#pragma once

#include <nlohmann/json.hpp>

#include "platform/sim/MachineState.h"

namespace sim {

// Writes the known keys into `doc`, leaving any other key untouched.
void WriteState(const MachineState& state, nlohmann::json& doc);
// Starts from the default machine and overrides what `doc` states, so a
// hand-written machine.json only needs the facts a test cares about.
// Throws std::runtime_error when a known key has the wrong shape.
MachineState ReadState(const nlohmann::json& doc);

}  // namespace sim
