// The tool on a real pseudo-terminal, answered as a person types.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rk_test {

class pty_session {
 public:
  explicit pty_session(const std::vector<std::string>& args);
  // The same terminal as controlling terminal, with standard input read
  // from a pipe that holds piped_input: a script run by hand.
  pty_session(const std::vector<std::string>& args, const std::string& piped_input);
  ~pty_session();
  pty_session(const pty_session&) = delete;
  pty_session& operator=(const pty_session&) = delete;

  // Waits until the terminal shows text after what was already matched.
  void expect(const std::string& text);
  // Waits until the tool has turned the terminal's echo off, and a moment
  // more: the question catches the terminal's signals just after that.
  void wait_for_echo_off();
  bool echo_is_on() const;
  // Echo and the signal keys both on, as a shell leaves the terminal.
  bool terminal_is_sane() const;
  void type(const std::string& keys);
  void send_signal(int signal);
  // Reads to the end and returns the tool's exit status.
  int finish();
  const std::string& screen() const { return screen_; }

 private:
  pty_session(const std::vector<std::string>& args, const std::optional<std::string>& piped_input);
  bool read_some(int timeout_ms);

  int master_ = -1;
  int child_ = -1;
  std::string screen_;
  std::size_t matched_ = 0;
};

}  // namespace rk_test
