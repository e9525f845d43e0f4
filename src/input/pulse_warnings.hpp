#pragma once
// Pulses a valid case lets through although they cannot do what they are
// there for: a pulse the run ends before, one that injects nothing, one far
// from every transition of the dots, and a record that stops before the
// dots' free decay after a pulse has died away.  Warnings, not errors: the
// run still runs.
#include <string>
#include <vector>

#include "input/input_reader.hpp"

namespace mps {

// The warnings about the pulses of `input`, pulse 1 first, each pulse's in
// the order above.  Reads the command line's choices (both transitions)
// from `input.params`, so it is called once they are set.
std::vector<std::string> pulse_warnings(const RunInput& input);

}  // namespace mps
