// Checks on what the tool prints.
#pragma once

namespace rk {

// Flushes standard output: status, or 1 (reported) when what was printed
// could not all be written.
int finish_output(int status);

}  // namespace rk
