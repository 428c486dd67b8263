// Write-back that fails: the old files stay exactly as they were, nothing is
// left behind, and the run says so with status 1.
#include <gtest/gtest.h>
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

}  // namespace
