// Changing runs on the same files at the same time: each waits for the lock
// of the other, and no change is lost.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "harness.h"
#include "pty_session.h"

using namespace rk_test;
using std::chrono::steady_clock;

namespace {

// A DES hash, as -C takes it.
const std::string some_hash = "abJnggxhB/yJU";

class locking : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }

  std::string lock() { return repo + "/CVSROOT/.rosterkeep.lock"; }
  std::string passwd() { return read_file(repo + "/CVSROOT/passwd"); }
  std::string waiting_message() {
    return "Waiting for another run of rosterkeep to release " + lock();
  }
  // The process id the lock file names.
  std::string holder_pid() {
    std::string text = read_file(lock());
    return text.substr(0, text.find('\n'));
  }
  // A run that waits at its first question, holding the lock.
  std::unique_ptr<pty_session> holder() {
    auto tty = std::make_unique<pty_session>(std::vector<std::string>{"-d", repo, "add", "bob"});
    tty->expect("Password? ");
    return tty;
  }

  scratch_dir dir;
  std::string repo = make_repo(dir, "alice:ah:\n", "alice:alice@x\n");
};

double seconds_since(steady_clock::time_point start) {
  return std::chrono::duration<double>(steady_clock::now() - start).count();
}

TEST_F(locking, simultaneous_runs_lose_no_change) {
  // Enough users that a read and a write-back take a while.
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "user" + std::to_string(i) + ":" + some_hash + ":cvs\n";
  write_file(repo + "/CVSROOT/passwd", many);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> names;
    std::vector<result> results(3);
    std::vector<std::thread> runs;
    for (int i = 0; i < 3; ++i) names.push_back("r" + std::to_string(round) + "n" + std::to_string(i));
    for (std::size_t i = 0; i < 3; ++i) {
      runs.emplace_back([this, &results, i, name = names[i]] {
        results[i] = run_tool({"-C", "-d", repo, "add", name}, some_hash + "\ncvs\n\n");
      });
    }
    for (auto& run : runs) run.join();
    std::string now = passwd();
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(results[i].status, 0) << results[i].err;
      EXPECT_NE(now.find("\n" + names[i] + ":" + some_hash + ":cvs\n"), std::string::npos)
          << "round " << round << " lost " << names[i];
    }
  }
}

TEST_F(locking, a_run_at_a_question_holds_the_lock_and_the_next_one_waits) {
  auto first = holder();
  pty_session second({"-d", repo, "del", "alice"});
  second.expect(waiting_message());
  first->type("pw\n");
  first->expect("System user? [] ");
  first->type("cvs\n");
  first->expect("Email address? [] ");
  first->type("bob@x\n");
  EXPECT_EQ(first->finish(), 0);
  EXPECT_EQ(second.finish(), 0);
  // The waiting run read the files after the first had saved its change.
  EXPECT_TRUE(passwd().starts_with("bob:")) << passwd();
  EXPECT_EQ(passwd().find("alice"), std::string::npos);
  EXPECT_EQ(read_file(repo + "/CVSROOT/users"), "bob:bob@x\n");
}

TEST_F(locking, a_killed_holder_leaves_no_lock_and_its_temporary_files_go) {
  auto first = holder();
  first->send_signal(SIGKILL);
  first->finish();
  // What a run killed in its write-back leaves beside the files.
  write_file(repo + "/CVSROOT/.rk_tmAb12Cd", "alice:ah:\nbob:secret:\n");
  write_file(repo + "/CVSROOT/.rk_tmAb12C", "not one of ours\n");
  auto start = steady_clock::now();
  result r = run_tool({"-d", repo, "del", "alice"});
  EXPECT_LT(seconds_since(start), 1.0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(passwd(), "");
  EXPECT_EQ(list_dir(repo + "/CVSROOT"),
            (std::vector<std::string>{".rk_tmAb12C", ".rosterkeep.lock", "passwd", "users"}));
}

TEST_F(locking, list_never_waits) {
  auto first = holder();
  auto start = steady_clock::now();
  result r = run_tool({"-d", repo, "list"});
  EXPECT_LT(seconds_since(start), 1.0);
  EXPECT_EQ(r.out, "alice<alice@x>:  on sys\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(locking, a_lock_held_too_long_ends_the_run_before_any_question) {
  const std::string before = passwd();
  auto first = holder();
  auto start = steady_clock::now();
  result r = run_tool({"-d", repo, "add", "carol"}, "pw\n\n\n");
  double waited = seconds_since(start);
  EXPECT_GE(waited, 30.0);
  EXPECT_LT(waited, 40.0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, waiting_message() + "\nIt is held by process " + holder_pid() + "\n" + lock() +
                       ": still locked by another run after 30 seconds; nothing was changed\n");
  EXPECT_EQ(r.out, "Unable to open " + repo + "\n");
  EXPECT_EQ(passwd(), before);
}

// Whoever may replace the files in CVSROOT may take their lock: the file
// gets the directory's owner and group, and the group's access where the
// group may write there.
TEST_F(locking, the_lock_file_follows_the_directory_it_guards) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
  std::string cvsroot = repo + "/CVSROOT";
  ASSERT_EQ(chown(cvsroot.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(cvsroot.c_str(), 02770), 0);
  ASSERT_EQ(run_tool({"-d", repo, "del", "alice"}).status, 0);
  struct stat st = file_status(lock());
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
}

TEST_F(locking, a_symbolic_link_is_never_taken_for_the_lock_file) {
  std::string elsewhere = dir / "elsewhere";
  ASSERT_EQ(symlink(elsewhere.c_str(), lock().c_str()), 0);
  const std::string before = passwd();
  result r = run_tool({"-d", repo, "del", "alice"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, lock() + ": Too many levels of symbolic links\n");
  EXPECT_FALSE(exists(elsewhere));
  EXPECT_EQ(passwd(), before);
}

// The host file's lock comes first, beside it; the repository's own lock
// still guards its users file.
TEST_F(locking, the_host_file_has_a_lock_of_its_own) {
  std::string etc = sandbox_dir() + "/etc";
  write_file(sandbox_sys_passwd(), repo + "\nalice:hh:\n\n");
  write_file(etc + "/.rk_tmZz9Yx8", "left by a killed run\n");
  result r = run_tool({"-d", repo, "del", "alice"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(sandbox_sys_passwd()), repo + "\n\n");
  EXPECT_EQ(list_dir(etc), (std::vector<std::string>{"cvs.passwd", "cvs.passwd.lock"}));
  EXPECT_TRUE(exists(lock()));
}

}  // namespace
