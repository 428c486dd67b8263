#include "cli/output.h"

#include <cstdio>

namespace rk {

int finish_output(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::perror("standard output");
    return 1;
  }
  return status;
}

}  // namespace rk
