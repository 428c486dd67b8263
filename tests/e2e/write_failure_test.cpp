// Write-back that fails: the old files stay exactly as they were, nothing is
// left behind, and the run says so with status 1.
#include <gtest/gtest.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "harness.h"

using namespace rk_test;

namespace {

class write_failure : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }

  void expect_files_unchanged(std::vector<std::string> names = {".rosterkeep.lock", "passwd",
                                                                  "users"}) {
    EXPECT_EQ(read_file(repo + "/CVSROOT/passwd"), passwd_before);
    EXPECT_EQ(read_file(repo + "/CVSROOT/users"), users_before);
    EXPECT_EQ(list_dir(repo + "/CVSROOT"), names);
  }

  scratch_dir dir;
  const std::string passwd_before = "alice:AAAAAAAAAAAAA:alice\nbob:BBBBBBBBBBBBB:bob\n";
  const std::string users_before =
      "alice:alice.long.address@example.org\nbob:bob.long.address@example.org\n";
  std::string repo = make_repo(dir, passwd_before, users_before);
};

TEST_F(write_failure, full_disk_keeps_both_files) {
  run_options options;
  options.args = {"-d", repo, "del", "alice"};
  options.in_child = [] { limit_file_size_in_child(10); };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, repo + "/CVSROOT/users: File too large\n" + repo +
                       "/CVSROOT/passwd: File too large\n");
  EXPECT_EQ(r.out, "Unable to close repository\n");
  expect_files_unchanged();
}

TEST_F(write_failure, one_file_failing_replaces_neither) {
  // The new passwd fits under the limit, the new users file does not.
  run_options options;
  options.args = {"-d", repo, "del", "bob"};
  options.in_child = [] { limit_file_size_in_child(30); };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, repo + "/CVSROOT/users: File too large\n");
  expect_files_unchanged();
}

// A run that could not save its changes stops before it asks anything.
TEST_F(write_failure, read_only_repository) {
  run_options options;
  options.args = {"-d", repo, "add", "carol"};
  options.input = "pw\n\n\n";
  std::string cvsroot = repo + "/CVSROOT";
  options.in_child = [cvsroot] { make_read_only_in_child(cvsroot); };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 1);
  // Root is stopped by a read-only mount, anyone else by the permission bits.
  const std::string why = geteuid() == 0 ? "Read-only file system" : "Permission denied";
  EXPECT_EQ(r.err, cvsroot + "/.rosterkeep.lock: " + why + "\n");
  EXPECT_EQ(r.out, "Unable to open " + repo + "\n");
  expect_files_unchanged({"passwd", "users"});
}

// An immutable passwd cannot be replaced; users, which could, stays as it
// was too.
TEST_F(write_failure, an_immutable_passwd_changes_neither_file) {
  std::string passwd = repo + "/CVSROOT/passwd";
  if (run_program({"chattr", "+i", passwd}).status != 0) GTEST_SKIP() << "no chattr +i here";
  result r = run_tool({"-d", repo, "rename", "alice", "alicia"});
  run_program({"chattr", "-i", passwd});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, passwd + ": Operation not permitted\n");
  EXPECT_EQ(r.out, "Unable to close repository\n");
  expect_files_unchanged();
}

// A file mounted over passwd cannot be renamed over.
TEST_F(write_failure, a_mount_over_passwd_changes_neither_file) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount";
  std::string passwd = repo + "/CVSROOT/passwd";
  run_options options;
  options.args = {"-d", repo, "del", "alice"};
  options.in_child = [passwd] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(passwd.c_str(), passwd.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      _exit(125);
    }
  };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(passwd + ": "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(passwd + " is a mount point of its own, which a rename cannot replace\n"),
            std::string::npos)
      << r.err;
  expect_files_unchanged();
}

// An ACL that lets the server's account read passwd, and any other extended
// attribute, stay with the file through a rewrite.
TEST_F(write_failure, a_rewrite_keeps_the_acl_and_extended_attributes) {
  std::string passwd = repo + "/CVSROOT/passwd";
  ASSERT_EQ(run_program({"setfacl", "-m", "u:nobody:r", passwd}).status, 0);
  ASSERT_EQ(setxattr(passwd.c_str(), "user.note", "keep me", 7, 0), 0);
  const std::string acl_before = run_program({"getfacl", "-c", passwd}).out;
  ASSERT_NE(acl_before.find("user:nobody:r--"), std::string::npos);
  result r = run_tool({"-d", repo, "del", "alice"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(passwd), "bob:BBBBBBBBBBBBB:bob\n");
  EXPECT_EQ(run_program({"getfacl", "-c", passwd}).out, acl_before);
  char value[16] = {};
  EXPECT_EQ(getxattr(passwd.c_str(), "user.note", value, sizeof value), 7);
  EXPECT_EQ(std::string(value), "keep me");
}

// A group administrator (neither root nor the files' owner) on files of the
// group: where the files are writable for the group the run goes through
// and says that the new files are now the administrator's; where they are
// not, it is refused before any question, with the way out.
TEST_F(write_failure, a_group_administrator_hears_what_the_run_does_to_the_files) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // Outside the sandbox, which may sit in a directory only root may enter.
  std::string place = "/tmp/rk-group-XXXXXX";
  ASSERT_NE(mkdtemp(place.data()), nullptr);
  chmod(place.c_str(), 0755);
  const std::string tool = place + "/rosterkeep";
  ASSERT_EQ(run_program({"cp", sandbox_tool(), tool}).status, 0);
  const std::string group_repo = place + "/repo";
  const std::string cvsroot = group_repo + "/CVSROOT";
  ASSERT_EQ(run_program({"mkdir", "-p", cvsroot}).status, 0);
  ASSERT_EQ(chown(cvsroot.c_str(), 0, 65534), 0);
  ASSERT_EQ(chmod(cvsroot.c_str(), 0775), 0);
  for (mode_t mode : {mode_t{0664}, mode_t{0644}}) {
    SCOPED_TRACE(mode);
    for (const char* name : {"passwd", "users"}) {
      std::string file = cvsroot + "/" + name;
      write_file(file, std::string(name) == "passwd" ? "alice:ah:\nbob:bh:\n" : "alice:a@x\n");
      ASSERT_EQ(chown(file.c_str(), 0, 65534), 0);
      ASSERT_EQ(chmod(file.c_str(), mode), 0);
    }
    run_options options;
    options.program = tool;
    options.args = {"-d", group_repo, "email", "bob"};
    options.input = "bob@x\n";
    options.in_child = [] {
      gid_t group = 65534;
      if (setgroups(1, &group) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
    };
    result r = run_tool(options);
    if (mode == 0664) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_NE(r.err.find("Warning: the new " + cvsroot + "/users belongs to nobody, not to root "
                           "as the old one did: only root can give a file away\n"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(read_file(cvsroot + "/users"), "alice:a@x\nbob:bob@x\n");
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "Unable to open " + group_repo + "\n");
      EXPECT_NE(r.err.find("cannot be given the second name a safe rewrite keeps as its backup"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(read_file(cvsroot + "/users"), "alice:a@x\n");
    }
  }
  run_program({"rm", "-rf", place});
}

// A default ACL on CVSROOT gives a new file an access ACL: the new version
// of a file that had none has none either.
TEST_F(write_failure, a_default_acl_of_the_directory_is_not_given_to_the_new_version) {
  std::string passwd = repo + "/CVSROOT/passwd";
  ASSERT_EQ(run_program({"setfacl", "-d", "-m", "u:nobody:rw", repo + "/CVSROOT"}).status, 0);
  struct stat before = file_status(passwd);
  result r = run_tool({"-d", repo, "del", "alice"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(passwd), "bob:BBBBBBBBBBBBB:bob\n");
  EXPECT_LT(getxattr(passwd.c_str(), "system.posix_acl_access", nullptr, 0), 0);
  EXPECT_EQ(errno, ENODATA);
  EXPECT_EQ(file_status(passwd).st_mode, before.st_mode);
}

}  // namespace
