#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "cvs/cvs.h"
#include "cvs/signal_cleanup.h"
#include "cvs/fixed_paths.h"

namespace rk {

std::optional<std::string> make_temp_dir() {
  std::string path = std::string(fixed_paths::temp_dir) + "/.rk_tmpXXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return std::nullopt;
  remember_work_dir(name.data());
  return std::string(name.data());
}

int run_cvs_in(const std::string& dir, const std::string& location, const char* command,
               const char* argument) {
  if (chdir(dir.c_str()) != 0) return -1;
  return run_cvs(location, command, argument);
}

}  // namespace rk
