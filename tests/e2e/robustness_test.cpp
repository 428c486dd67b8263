// What a run must survive: fields of any length, files changed by another
// program while it waits, too little memory, files whose apparent size is
// no measure of their content, and random bytes in every file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "harness.h"
#include "pty_session.h"

using namespace rk_test;

namespace {

class robustness : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }

  std::string cvsroot() const { return repo + "/CVSROOT"; }
  std::string passwd() const { return read_file(cvsroot() + "/passwd"); }
  std::string users() const { return read_file(cvsroot() + "/users"); }
  // What the directory holds besides the files themselves: nothing.
  void expect_no_leftovers() const {
    EXPECT_EQ(list_dir(cvsroot()),
              (std::vector<std::string>{".rosterkeep.lock", "passwd", "users"}));
  }

  scratch_dir dir;
  std::string repo = make_repo(dir, "alice:ah:asys\nbob:bh:\n", "alice:alice@x\nbob:bob@x\n");
};

void limit_data(rlim_t bytes) {
  rlimit limit{bytes, bytes};
  setrlimit(RLIMIT_DATA, &limit);
}

// A long text in each field of each file is listed and written back whole,
// beside another user that is deleted and a third that is renamed.
TEST_F(robustness, long_fields_are_read_listed_and_written_back_whole) {
  for (std::size_t size : {16383u, 16384u, 65535u, 65536u, 1u << 20}) {
    const std::string l(size, 'L');
    struct {
      const char* where;
      std::string passwd, users;
      std::string listed;  // alice's line
    } cases[] = {
        {"name", l + ":ah:asys\n", l + ":" + "la@x\n", l + "<la@x>: asys on sys\n"},
        {"hash", "alice:" + l + ":asys\n", "alice:a@x\n", "alice<a@x>: asys on sys\n"},
        {"system user", "alice:ah:" + l + "\n", "alice:a@x\n", "alice<a@x>: " + l + " on sys\n"},
        {"address", "alice:ah:asys\n", "alice:" + l + "\n", "alice<" + l + ">: asys on sys\n"},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(size) + " bytes in the " + c.where);
      write_file(cvsroot() + "/passwd", c.passwd + "bob:bh:\ncarol:ch:c\n");
      write_file(cvsroot() + "/users", c.users + "bob:b@x\ncarol:c@x\n");
      result listed = run_tool({"-d", repo, "list"});
      EXPECT_EQ(listed.status, 0) << listed.err;
      EXPECT_TRUE(listed.out == c.listed + "bob<b@x>:  on sys\ncarol<c@x>: c on sys\n");
      result changed = run_tool({"-d", repo, "del", "bob"});
      EXPECT_EQ(changed.status, 0) << changed.err;
      changed = run_tool({"-d", repo, "rename", "carol", "dora"});
      EXPECT_EQ(changed.status, 0) << changed.err;
      EXPECT_TRUE(passwd() == c.passwd + "dora:ch:c\n");
      EXPECT_TRUE(users() == c.users + "dora:c@x\n");
    }
    SCOPED_TRACE(std::to_string(size) + " bytes in the host file");
    write_file(sandbox_sys_passwd(), "/other\nx:" + l + ":xs\n\n" + repo + "\nalice:" + l +
                                         ":" + l + "\nbob:bh:\n\n");
    write_file(cvsroot() + "/users", "alice:a@x\n");
    EXPECT_EQ(run_tool({"-d", repo, "list", "alice"}).out, "alice<a@x>: " + l + " on sys\n");
    EXPECT_EQ(run_tool({"-d", repo, "del", "bob"}).status, 0);
    EXPECT_TRUE(read_file(sandbox_sys_passwd()) ==
                "/other\nx:" + l + ":xs\n\n" + repo + "\nalice:" + l + ":" + l + "\n\n");
    unlink(sandbox_sys_passwd().c_str());
  }
}

// Another program (an editor, say) changes passwd while a run waits at a
// question: the run replaces nothing, says so and ends with status 1.
TEST_F(robustness, a_file_changed_while_the_run_waits_is_not_replaced) {
  const std::string file = cvsroot() + "/passwd";
  struct {
    const char* what;
    void (*change)(const std::string& file);
  } cases[] = {
      {"rewritten in place, longer",
       [](const std::string& f) { write_file(f, "carol:ch:\ndave:dh:\nerin:eh:\n"); }},
      {"rewritten in place, same size, time put back",
       [](const std::string& f) {
         struct stat before = file_status(f);
         write_file(f, "zlice:zh:zsys\nzob:zh:\n");
         timespec times[2] = {before.st_atim, before.st_mtim};
         utimensat(AT_FDCWD, f.c_str(), times, 0);
       }},
      {"truncated", [](const std::string& f) { ASSERT_EQ(truncate(f.c_str(), 0), 0); }},
      {"replaced by rename",
       [](const std::string& f) {
         write_file(f + ".new", "carol:ch:\n");
         ASSERT_EQ(rename((f + ".new").c_str(), f.c_str()), 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(file, "alice:ah:asys\nbob:bh:\n");
    write_file(cvsroot() + "/users", "alice:alice@x\n");
    pty_session tty({"-d", repo, "email", "alice"});
    tty.expect("New email for alice? ");
    c.change(file);
    std::string changed = passwd();
    tty.type("new@x\n");
    EXPECT_EQ(tty.finish(), 1);
    EXPECT_NE(tty.screen().find(file + " was changed by another program while rosterkeep ran; "
                                       "nothing was changed"),
              std::string::npos)
        << tty.screen();
    EXPECT_EQ(passwd(), changed);
    EXPECT_EQ(users(), "alice:alice@x\n");
    expect_no_leftovers();
  }
}

// A repository too large for the memory the run may have: the fixed
// message and status 1, the files as they were, no temporary file left.
TEST_F(robustness, out_of_memory_ends_the_run_with_its_message) {
#ifdef RK_SANITIZED
  GTEST_SKIP() << "the sanitizers' shadow memory counts against the limit";
#endif
  std::string many_passwd, many_users;
  for (int n = 0; n < 200000; ++n) {
    many_passwd += "user" + std::to_string(n) + ":0123456789abc:cvs\n";
    many_users += "user" + std::to_string(n) + ":first.last" + std::to_string(n) + "@example.org\n";
  }
  write_file(cvsroot() + "/passwd", many_passwd);
  write_file(cvsroot() + "/users", many_users);
  for (const char* action : {"del", "list"}) {
    SCOPED_TRACE(action);
    run_options options;
    options.args = {"-d", repo, action, "user5"};
    options.in_child = [] { limit_data(8 << 20); };
    result r = run_tool(options);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "Can't allocate memory\n");
    EXPECT_TRUE(passwd() == many_passwd);
    EXPECT_TRUE(users() == many_users);
    expect_no_leftovers();
  }
}

// Blank lines cost no memory of their own: 64 KiB of them before many users
// keep the run within twice the size of the files (and a little for the
// program itself).
TEST_F(robustness, blank_lines_cost_no_memory_of_their_own) {
#ifdef RK_SANITIZED
  GTEST_SKIP() << "the sanitizers' shadow memory counts against the limit";
#endif
  std::string many_passwd(64 << 10, '\n'), many_users;
  for (int n = 0; n < 200000; ++n) {
    many_passwd += "user" + std::to_string(n) + ":0123456789abc:cvs\n";
    many_users += "user" + std::to_string(n) + ":first.last" + std::to_string(n) + "@example.org\n";
  }
  write_file(cvsroot() + "/passwd", many_passwd);
  write_file(cvsroot() + "/users", many_users);
  const rlim_t files = many_passwd.size() + many_users.size();
  run_options options;
  options.args = {"-d", repo, "del", "user5"};
  options.in_child = [files] { limit_data(2 * files + (8 << 20)); };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(passwd().find("user5:"), std::string::npos);
}

// A sparse passwd of a terabyte (no disk, no quota: any owner can make one)
// is refused at once, whoever runs the tool.
TEST_F(robustness, a_sparse_terabyte_is_refused_at_once) {
  const std::string file = cvsroot() + "/passwd";
  ASSERT_EQ(truncate(file.c_str(), 1LL << 40), 0);
  auto start = std::chrono::steady_clock::now();
  result r = run_tool({"-d", repo, "list"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, file + ": it is larger than 1 GiB, so it is not read\nCouldn't hfile_read\n");
  ASSERT_EQ(truncate(file.c_str(), 1LL << 20), 0);
  r = run_tool({"-d", repo, "list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, file + ": it has holes (a sparse file), so it is not read\nCouldn't hfile_read\n");
}

// A signal at any moment of a run on a large repository (inside malloc,
// say, while the files are read) ends it by that signal at once: the handler
// only unlinks, so it cannot wait on a lock the interrupted code holds. The
// files are old or new, never anything else, and no temporary file stays.
TEST_F(robustness, a_signal_at_any_moment_ends_the_run_at_once) {
  std::string many_passwd, many_users;
  for (int n = 0; n < 100000; ++n) {
    many_passwd += "user" + std::to_string(n) + ":0123456789abc:cvs\n";
    many_users += "user" + std::to_string(n) + ":user" + std::to_string(n) + "@example.org\n";
  }
  const std::string tool = sandbox_tool();
  for (int delay_ms : {0, 2, 5, 10, 20, 40, 80}) {
    SCOPED_TRACE(std::to_string(delay_ms) + " ms");
    write_file(cvsroot() + "/passwd", many_passwd);
    write_file(cvsroot() + "/users", many_users);
    pid_t child = fork();
    if (child == 0) {
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0), dup2(null, 1), dup2(null, 2);
      execl(tool.c_str(), tool.c_str(), "-d", repo.c_str(), "rename", "user7", "renamed",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    kill(child, SIGINT);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (ended == 0) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      FAIL() << "the run did not end after the signal";
    }
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 0));
    std::string now = passwd();
    EXPECT_TRUE(now == many_passwd || now.find("renamed:") != std::string::npos);
    EXPECT_EQ(users().find("renamed:") == std::string::npos, now == many_passwd);
    // A run stopped before it locked has made no lock file.
    for (const std::string& name : list_dir(cvsroot())) {
      EXPECT_TRUE(name == ".rosterkeep.lock" || name == "passwd" || name == "users") << name;
    }
  }
}

// Random bytes in passwd and users: the tool never crashes, and what it can
// read it writes back so that the next read finds the same users.
TEST_F(robustness, random_files_keep_their_users_through_a_rename) {
  std::mt19937 random(20261211);
  const std::string alphabet = "ab:::\n\n \t#\r\x01\xff";
  auto any_text = [&](std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text += alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    write_file(cvsroot() + "/passwd", any_text(random() % 200));
    write_file(cvsroot() + "/users", any_text(random() % 200));
    result before = run_tool({"-d", repo, "list"});
    ASSERT_LT(before.status, 2) << before.err;
    if (before.status != 0) continue;
    // A user added and deleted again, twice: four write-backs. The first
    // writes an absent system user as empty text, which lists differently;
    // after that, nothing changes.
    std::string listed[2];
    for (std::string& out : listed) {
      result added = run_tool({"-d", repo, "email", "zz"}, "\n");
      ASSERT_LT(added.status, 2) << added.err;
      if (added.status != 0) break;
      result deleted = run_tool({"-d", repo, "del", "zz"});
      ASSERT_EQ(deleted.status, 0) << deleted.err;
      result after = run_tool({"-d", repo, "list"});
      ASSERT_EQ(after.status, 0) << after.err;
      out = after.out;
    }
    EXPECT_EQ(listed[1], listed[0]);
  }
}

}  // namespace
