#include "cli/hidden_input.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace rk {
namespace {

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Echo (and signals, as getpass does) off while it lives; the terminal's
// settings are put back whatever happens to the read.
class echo_off {
 public:
  explicit echo_off(std::FILE* terminal) : fd_(fileno(terminal)) {
    if (tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ISIG));
    active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  echo_off(const echo_off&) = delete;
  echo_off& operator=(const echo_off&) = delete;
  ~echo_off() {
    if (active_) tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
  bool active() const { return active_; }

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

}  // namespace

std::optional<secret_text> read_hidden_line() {
  std::unique_ptr<std::FILE, file_closer> terminal(std::fopen("/dev/tty", "w+ce"));
  std::FILE* in = terminal ? terminal.get() : stdin;
  std::FILE* out = terminal ? terminal.get() : stderr;

  secret_text password;
  bool got_line = false;
  {
    echo_off quiet(in);
    int c = 0;
    while ((c = std::getc(in)) != EOF) {
      got_line = true;
      if (c == '\n') break;
      password.push_back(static_cast<char>(c));
    }
    // The Enter that ended the line was not echoed either.
    if (quiet.active()) {
      std::fputc('\n', out);
      std::fflush(out);
    }
  }
  if (got_line) return password;
  if (std::ferror(in)) {
    std::perror("getpass");
  } else {
    std::fputs("getpass: end of input\n", stderr);
  }
  return std::nullopt;
}

}  // namespace rk
