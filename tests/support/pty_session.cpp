#include "pty_session.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "harness.h"

namespace rk_test {

pty_session::pty_session(const std::vector<std::string>& args) : pty_session(args, std::nullopt) {}

pty_session::pty_session(const std::vector<std::string>& args, const std::string& piped_input)
    : pty_session(args, std::optional<std::string>(piped_input)) {}

pty_session::pty_session(const std::vector<std::string>& args,
                         const std::optional<std::string>& piped_input) {
  std::vector<std::string> argv{sandbox_tool()};
  int pipe_ends[2] = {-1, -1};
  if (piped_input && pipe(pipe_ends) != 0) throw std::runtime_error("pipe");
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = forkpty(&master_, nullptr, nullptr, nullptr);
  if (pid < 0) throw std::runtime_error("forkpty");
  if (pid == 0) {
    // As a shell starts a command in the foreground: whatever the test run
    // inherited (a background job ignores SIGINT and SIGQUIT), the keys and
    // signals act as they do for a person.
    for (int signal_number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP}) signal(signal_number, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (piped_input) {
      dup2(pipe_ends[0], 0);
      close(pipe_ends[0]);
      close(pipe_ends[1]);
    }
    std::vector<char*> pointers;
    for (auto& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  child_ = pid;
  if (piped_input) {
    close(pipe_ends[0]);
    ssize_t written = write(pipe_ends[1], piped_input->data(), piped_input->size());
    close(pipe_ends[1]);
    if (written != static_cast<ssize_t>(piped_input->size())) throw std::runtime_error("write");
  }
}

pty_session::~pty_session() {
  if (child_ > 0) {
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
}

bool pty_session::read_some(int timeout_ms) {
  pollfd fd{master_, POLLIN, 0};
  if (poll(&fd, 1, timeout_ms) <= 0) return false;
  char buffer[4096];
  ssize_t got = read(master_, buffer, sizeof buffer);
  if (got <= 0) return false;  // EIO: the tool has closed the terminal
  screen_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

void pty_session::expect(const std::string& text) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    auto found = screen_.find(text, matched_);
    if (found != std::string::npos) {
      matched_ = found + text.size();
      return;
    }
    if (std::chrono::steady_clock::now() > deadline || !read_some(20000)) {
      throw std::runtime_error("never saw \"" + text + "\" on:\n" + screen_);
    }
  }
}

void pty_session::wait_for_echo_off() {
  for (int i = 0; i < 2000; ++i) {
    termios settings{};
    if (tcgetattr(master_, &settings) == 0 && !(settings.c_lflag & ECHO)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  throw std::runtime_error("the echo stayed on");
}

bool pty_session::echo_is_on() const {
  termios settings{};
  return tcgetattr(master_, &settings) == 0 && (settings.c_lflag & ECHO);
}

bool pty_session::terminal_is_sane() const {
  termios settings{};
  return tcgetattr(master_, &settings) == 0 && (settings.c_lflag & ECHO) && (settings.c_lflag & ISIG);
}

void pty_session::type(const std::string& keys) {
  if (write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
    throw std::runtime_error("cannot type");
  }
}

void pty_session::send_signal(int signal) { kill(child_, signal); }

int pty_session::finish() {
  while (read_some(20000)) {
  }
  int status = 0;
  // A tool still waiting for input after all that is hung: fail, not hang.
  for (int attempt = 0; waitpid(child_, &status, WNOHANG) == 0; ++attempt) {
    if (attempt == 500) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
      child_ = -1;
      throw std::runtime_error("the tool never ended; the terminal showed:\n" + screen_);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  child_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace rk_test
