#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cvs/cvs.h"
#include "cvs/fixed_paths.h"

namespace rk {
namespace {

int wait_for(pid_t child) {
  int status = 0;
  // Stops and continuations are not reported (no WUNTRACED): wait for the end.
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFSIGNALED(status)) return -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 1) return -1;
  return 0;
}

}  // namespace

int run_cvs(const std::string& location, const char* command, const char* argument) {
  std::string program = fixed_paths::cvs_program;
  std::string dash_d = "-d";
  std::string root = location;
  std::string cmd = command ? command : "";
  std::string arg = argument ? argument : "";
  char* argv[] = {program.data(), dash_d.data(), root.data(), cmd.data(), arg.data(), nullptr};

  // The child shares our standard streams: what we printed must come first.
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    std::exit(1);
  }
  if (child == 0) {
    execv(program.c_str(), argv);
    std::perror("execv");
    std::fprintf(stderr, "%s, the CVS program, could not be started\n", program.c_str());
    _exit(1);
  }
  return wait_for(child);
}

}  // namespace rk
