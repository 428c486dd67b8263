// The tool's run: options, dispatch, open, action, close.
#pragma once

namespace rk {

int run(int argc, char** argv);

}  // namespace rk
