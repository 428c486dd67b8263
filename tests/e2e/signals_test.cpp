// The hidden question as a person meets it on a terminal: signals and the
// keys that send them end the run with nothing changed and the terminal as
// it was; no keystroke becomes a password.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cvs_repo.h"
#include "harness.h"
#include "pty_session.h"

using namespace rk_test;

namespace {

class signals : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }
  void expect_unchanged() {
    EXPECT_EQ(read_file(repo + "/CVSROOT/passwd"), passwd_before);
    EXPECT_EQ(read_file(repo + "/CVSROOT/users"), users_before);
    EXPECT_EQ(list_dir(repo + "/CVSROOT"),
              (std::vector<std::string>{".rosterkeep.lock", "passwd", "users"}));
    EXPECT_EQ(list_dir(sandbox_tmp()), std::vector<std::string>{});
  }
  std::string hash_of(const std::string& name) {
    std::string passwd = read_file(repo + "/CVSROOT/passwd");
    auto at = passwd.find(name + ":");
    return passwd.substr(at + name.size() + 1, passwd.find(':', at + name.size() + 1) - at - name.size() - 1);
  }

  scratch_dir dir;
  const std::string passwd_before = "alice:alOLDHASH12345:\n";
  const std::string users_before = "alice:alice@x\n";
  std::string repo = make_repo(dir, passwd_before, users_before);
};

TEST_F(signals, a_signal_at_the_hidden_question_changes_nothing) {
  struct {
    const char* what;
    int signal;
    const char* keys;  // typed instead of sent, when set
  } cases[] = {
      {"SIGINT", SIGINT, nullptr},  {"SIGTERM", SIGTERM, nullptr}, {"SIGHUP", SIGHUP, nullptr},
      {"SIGQUIT", SIGQUIT, nullptr}, {"Ctrl-C", SIGINT, "\x03"},    {"Ctrl-\\", SIGQUIT, "\x1c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    pty_session tty({"-d", repo, "pass", "alice"});
    tty.expect("New password for alice? ");
    tty.wait_for_echo_off();
    if (c.keys) {
      tty.type(std::string("se") + c.keys);
    } else {
      tty.send_signal(c.signal);
    }
    EXPECT_EQ(tty.finish(), 128 + c.signal);
    EXPECT_TRUE(tty.terminal_is_sane());
    expect_unchanged();
  }
}

// With -c the handler removes the checkout's files that hold users (it only
// unlinks), and the next run with -c removes the rest of the checkout.
TEST_F(signals, a_signal_removes_the_checkout) {
  scratch_dir cvs_dir;
  std::string kept = make_cvs_repo(cvs_dir, passwd_before, users_before);
  pty_session tty({"-c", "-d", ":local:" + kept, "add", "bob"});
  tty.expect("Password? ");
  tty.wait_for_echo_off();
  auto checkouts = list_dir(sandbox_tmp());
  ASSERT_EQ(checkouts.size(), 1u);
  std::string checkout = sandbox_tmp() + "/" + checkouts[0];
  ASSERT_TRUE(exists(checkout + "/CVSROOT/passwd"));
  tty.send_signal(SIGTERM);
  EXPECT_EQ(tty.finish(), 128 + SIGTERM);
  EXPECT_TRUE(tty.terminal_is_sane());
  EXPECT_FALSE(exists(checkout + "/CVSROOT/passwd"));
  EXPECT_FALSE(exists(checkout + "/CVSROOT/users"));
  result next = run_tool({"-c", "-d", ":local:" + kept, "list", "alice"});
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(list_dir(sandbox_tmp()), std::vector<std::string>{});
}

// Ctrl-Z puts the terminal back; the question goes on with echo off again,
// and the key is no part of the password.
TEST_F(signals, ctrl_z_at_the_hidden_question_is_no_part_of_the_password) {
  pty_session tty({"-d", repo, "pass", "alice"});
  tty.expect("New password for alice? ");
  tty.wait_for_echo_off();
  tty.type("\x1a");
  // Its process group has no parent in the session, so the stop itself is
  // discarded; the question starts again, and input typed before that is
  // flushed with the old settings.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  tty.send_signal(SIGCONT);
  tty.wait_for_echo_off();
  tty.type("n3w\n");
  EXPECT_EQ(tty.finish(), 0);
  EXPECT_TRUE(hash_matches("n3w", hash_of("alice")));
}

TEST_F(signals, control_characters_in_a_password_are_refused) {
  const std::string refused = "New password for alice? Refusing user \"alice\": the password contains a control character\n";
  for (std::string input : {std::string("a\0b\n", 4), std::string("\x03pw\n"), std::string("pw\x7f\n")}) {
    SCOPED_TRACE(testing::PrintToString(input));
    result r = run_tool({"-d", repo, "pass", "alice"}, input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, refused);
    EXPECT_EQ(read_file(repo + "/CVSROOT/passwd"), passwd_before);
  }
  // A piped line ended by CR LF: the CR is a control character like any
  // other, never an end that leaves the rest of the line to the next answer.
  result crlf = run_tool({"-d", repo, "pass", "alice"}, "pw\r\n");
  EXPECT_EQ(crlf.status, 0);
  EXPECT_EQ(crlf.out, refused);
  EXPECT_EQ(read_file(repo + "/CVSROOT/passwd"), passwd_before);
}

// Where /dev has no tty (a chroot, a container), the question reads
// standard input and makes no /dev/tty.
TEST_F(signals, without_a_tty_device_the_hidden_question_reads_standard_input) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount";
  std::string empty_dev = dir / "dev";
  ASSERT_EQ(mkdir(empty_dev.c_str(), 0755), 0);
  run_options options;
  options.args = {"-d", repo, "pass", "alice"};
  options.input = "n3w\n";
  options.in_child = [empty_dev] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(empty_dev.c_str(), "/dev", nullptr, MS_BIND, nullptr) != 0) {
      _exit(125);
    }
  };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(hash_matches("n3w", hash_of("alice")));
  EXPECT_EQ(list_dir(empty_dev), std::vector<std::string>{});
}

}  // namespace
