#include "harness.h"

#include <crypt.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace rk_test {
namespace {

std::vector<char*> c_strings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

void apply_env(const std::vector<std::pair<std::string, std::optional<std::string>>>& env) {
  for (const auto& [name, value] : env) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

// Feeds input to the child and collects its output without ever blocking on
// a full pipe.
void pump(int in_fd, const std::string& input, int out_fd, int err_fd, result& r) {
  std::size_t written = 0;
  if (input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  while (out_fd >= 0 || err_fd >= 0) {
    pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
    // Long enough for a run that waits out another run's lock in silence.
    if (poll(fds, 3, 120000) <= 0) throw std::runtime_error("the tool hangs");
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
      if (!fds[i].revents) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        close(fds[i].fd);
        (i == 0 ? out_fd : err_fd) = -1;
      } else {
        (i == 0 ? r.out : r.err).append(buffer, static_cast<std::size_t>(got));
      }
    }
    if (in_fd >= 0 && fds[2].revents) {
      ssize_t put = write(in_fd, input.data() + written, input.size() - written);
      if (put > 0) written += static_cast<std::size_t>(put);
      if (put < 0 || written == input.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
}

int wait_status(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

result run_child(std::vector<std::string> argv, const run_options& options, bool search_path) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe");
  }
  signal(SIGPIPE, SIG_IGN);
  pid_t child = fork();
  if (child == 0) {
    setsid();
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    apply_env(options.env);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (options.in_child) options.in_child();
    auto pointers = c_strings(argv);
    signal(SIGPIPE, SIG_DFL);
    if (search_path) {
      execvp(pointers[0], pointers.data());
    } else {
      execv(pointers[0], pointers.data());
    }
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  result r;
  pump(in[1], options.input, out[0], err[0], r);
  r.status = wait_status(child);
  return r;
}

}  // namespace

std::string sandbox_dir() { return RK_SANDBOX_DIR; }
std::string sandbox_tool() { return RK_SANDBOX_TOOL; }
std::string sandbox_sys_passwd() { return sandbox_dir() + "/etc/cvs.passwd"; }
std::string sandbox_cvs() { return sandbox_dir() + "/bin/cvs"; }
std::string sandbox_tmp() { return sandbox_dir() + "/tmp"; }

void reset_sandbox() {
  fs::remove_all(sandbox_dir() + "/etc");
  fs::remove_all(sandbox_tmp());
  fs::remove_all(sandbox_dir() + "/bin");
  fs::create_directories(sandbox_dir() + "/etc");
  fs::create_directories(sandbox_tmp());
  fs::create_directories(sandbox_dir() + "/bin");
  fs::create_symlink("/usr/bin/cvs", sandbox_cvs());
}

result run_tool(const run_options& options) {
  std::vector<std::string> argv{options.program.empty() ? sandbox_tool() : options.program};
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  return run_child(argv, options, false);
}

result run_tool(std::vector<std::string> args, std::string input) {
  run_options options;
  options.args = std::move(args);
  options.input = std::move(input);
  return run_tool(options);
}

result run_program(std::vector<std::string> argv, const std::string& cwd,
                   std::vector<std::pair<std::string, std::optional<std::string>>> env) {
  run_options options;
  options.cwd = cwd;
  options.env = std::move(env);
  return run_child(std::move(argv), options, true);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

struct stat file_status(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
  return st;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

scratch_dir::scratch_dir() {
  fs::create_directories(sandbox_dir() + "/scratch");
  std::string name = sandbox_dir() + "/scratch/XXXXXX";
  if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp");
  path_ = name;
}

scratch_dir::~scratch_dir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string make_repo(const scratch_dir& dir, const std::optional<std::string>& passwd,
                      const std::optional<std::string>& users) {
  std::string repo = dir / "repo";
  fs::create_directories(repo + "/CVSROOT");
  if (passwd) write_file(repo + "/CVSROOT/passwd", *passwd);
  if (users) write_file(repo + "/CVSROOT/users", *users);
  return repo;
}

bool hash_matches(const std::string& password, const std::string& hash) {
  crypt_data work{};
  const char* computed = crypt_r(password.c_str(), hash.c_str(), &work);
  return computed && hash.size() == 13 && hash == computed;
}

void make_read_only_in_child(const std::string& dir) {
  if (geteuid() != 0) {
    chmod(dir.c_str(), 0555);
    return;
  }
  // Root writes through any permission bits; a read-only mount stops it.
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
      mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
    _exit(125);
  }
}

void drop_file_access_override_in_child() {
  if (geteuid() != 0) return;
  // Dropped from the bounding set, they are not given back by execve.
  if (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
      prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0) {
    _exit(125);
  }
}

void limit_file_size_in_child(unsigned long bytes) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace rk_test
