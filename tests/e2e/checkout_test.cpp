// -c: working through a checkout of CVSROOT made with the real CVS program.
// CVS shares the tool's standard streams, so its own lines come first.
#include <gtest/gtest.h>
#include <unistd.h>

#include "cvs_repo.h"
#include "harness.h"

using namespace rk_test;

namespace {

class checkout : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }

  result rk(const std::string& location, std::vector<std::string> args) {
    run_options options;
    options.args = {"-c", "-d", location};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.env = {{"HOME", dir.path()}};
    options.cwd = dir.path();
    return run_tool(options);
  }
  std::string live(const std::string& name) { return read_file(repo + "/CVSROOT/" + name); }
  int revisions(const std::string& name) { return revision_count(repo + "/CVSROOT/" + name + ",v"); }

  scratch_dir dir;
  std::string repo = make_cvs_repo(dir, "alice:ah:cvs\nbob:bh:\n", "alice:alice@x\n");
};

TEST_F(checkout, a_change_is_committed_and_the_checkout_removed) {
  result r = rk(repo, {"rename", "alice", "alicia"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("CVSROOT/passwd,v  <--  CVSROOT/passwd\nnew revision: 1.2"), std::string::npos)
      << r.out;
  EXPECT_EQ(live("passwd"), "alicia:ah:cvs\nbob:bh:\n");
  EXPECT_EQ(live("users"), "alicia:alice@x\n");
  EXPECT_EQ(revisions("passwd"), 2);
  EXPECT_EQ(list_dir(sandbox_tmp()), std::vector<std::string>{});
  // A local repository is locked, through a checkout too.
  EXPECT_TRUE(exists(repo + "/CVSROOT/.rosterkeep.lock"));
}

TEST_F(checkout, no_change_no_commit) {
  result r = rk(":local:" + repo, {"list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.ends_with("U CVSROOT/verifymsg\nalice<alice@x>: cvs on sys\nbob<no email>:  on sys\n"))
      << r.out;
  EXPECT_TRUE(rk(repo, {"del", "nobody"}).out.ends_with("U CVSROOT/verifymsg\nError deleting nobody\n"));
  EXPECT_EQ(revisions("passwd"), 1);
  EXPECT_EQ(revisions("users"), 1);
  EXPECT_EQ(list_dir(sandbox_tmp()), std::vector<std::string>{});
}

TEST_F(checkout, a_remote_location_never_uses_the_host_file) {
  const std::string host = repo + "\nhostuser:hh:\n\n";
  write_file(sandbox_sys_passwd(), host);
  result r = rk(":fork:" + repo, {"del", "bob"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "cvs checkout: Updating CVSROOT\nCouldn't hfile_read\ncvs commit: Examining CVSROOT\n");
  EXPECT_EQ(live("passwd"), "alice:ah:cvs\n");
  EXPECT_EQ(read_file(sandbox_sys_passwd()), host);
  // A remote repository has no local files to lock.
  EXPECT_FALSE(exists(repo + "/CVSROOT/.rosterkeep.lock"));
  EXPECT_FALSE(exists(sandbox_sys_passwd() + ".lock"));
}

TEST_F(checkout, a_local_location_uses_the_host_file_directly) {
  write_file(sandbox_sys_passwd(), repo + "\nalice:hostah:\n\n");
  result r = rk(repo, {"rename", "alice", "alicia"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(sandbox_sys_passwd()), repo + "\nalicia:hostah:\n\n");
  // Only the users file went through the commit.
  EXPECT_EQ(live("passwd"), "alice:ah:cvs\nbob:bh:\n");
  EXPECT_EQ(revisions("passwd"), 1);
  EXPECT_EQ(live("users"), "alicia:alice@x\n");
}

// A failed checkout (a wrong path, no cvs login, a server down) leaves
// nothing: its directory held nothing worth keeping.
TEST_F(checkout, a_failed_checkout_removes_its_directory) {
  std::string missing = dir / "missing";
  result r = rk(missing, {"list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Unable to open " + missing + "\n");
  EXPECT_EQ(list_dir(sandbox_tmp()), std::vector<std::string>{});
}

// CVS refuses a relative repository path; the tool gives it an absolute one.
TEST_F(checkout, a_relative_local_path_works) {
  std::string parent = repo.substr(0, repo.rfind('/'));
  std::string name = repo.substr(repo.rfind('/') + 1);
  for (std::string location : {name, ":local:" + name}) {
    SCOPED_TRACE(location);
    run_options options;
    options.args = {"-c", "-d", location, "list", "alice"};
    options.cwd = parent;
    result r = run_tool(options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nalice<alice@x>: cvs on sys\n"), std::string::npos) << r.out;
  }
}

TEST_F(checkout, a_missing_cvs_program_is_reported_by_the_child) {
  unlink(sandbox_cvs().c_str());
  result r = rk(repo, {"list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "execv: No such file or directory\n" + sandbox_cvs() +
                       ", the CVS program, could not be started\n");
  EXPECT_EQ(r.out, "Unable to open " + repo + "\n");
  EXPECT_EQ(list_dir(sandbox_tmp()), std::vector<std::string>{});
}

TEST_F(checkout, a_failed_commit_keeps_the_checkout_and_says_where) {
  write_file(repo + "/CVSROOT/commitinfo", "ALL /bin/false\n");
  result r = rk(repo, {"del", "bob"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.ends_with("U CVSROOT/verifymsg\nUnable to close repository\n")) << r.out;
  auto left = list_dir(sandbox_tmp());
  ASSERT_EQ(left.size(), 1u);
  const std::string kept = sandbox_tmp() + "/" + left[0];
  EXPECT_NE(r.err.find("Can't commit new files\nThe changes are kept in " + kept + "\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(kept + "/CVSROOT/passwd"), "alice:ah:cvs\n");
  EXPECT_EQ(live("passwd"), "alice:ah:cvs\nbob:bh:\n");
}

}  // namespace
