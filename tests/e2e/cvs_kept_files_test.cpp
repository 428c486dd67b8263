// Changes that CVS itself would undo, or that a commit could not carry, are
// refused before anything is asked; reading goes on as before.
#include <gtest/gtest.h>

#include "cvs_repo.h"
#include "harness.h"

using namespace rk_test;

namespace {

class cvs_kept_files : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }

  result rk(const std::string& repo, std::vector<std::string> args, std::string input = {}) {
    run_options options;
    options.args = {"-d", repo};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.input = std::move(input);
    options.env = {{"HOME", dir.path()}};
    options.cwd = dir.path();
    return run_tool(options);
  }
  std::string live(const std::string& repo, const std::string& name) {
    return read_file(repo + "/CVSROOT/" + name);
  }

  scratch_dir dir;
  const std::string passwd = "alice:ah:cvs\nbob:bh:\n";
  const std::string users = "alice:alice@x\n";
};

// Without -c, CVS rebuilds a file that checkoutlist lists from its ,v file
// at the next commit in CVSROOT: a deleted user would get its access back.
TEST_F(cvs_kept_files, a_file_cvs_rebuilds_is_not_changed_behind_its_back) {
  std::string repo = make_cvs_repo(dir, passwd, users);
  result r = rk(repo, {"add", "carol"}, "pw\n\n\n");
  EXPECT_EQ(r.status, 1);
  std::string reason = " (CVSROOT/checkoutlist lists it): a change made here would be undone at "
                       "the next commit in CVSROOT; use -c\n";
  std::string cvsroot = repo + "/CVSROOT/";
  EXPECT_EQ(r.err, cvsroot + "users is rebuilt by CVS from " + cvsroot + "users,v" + reason +
                       cvsroot + "passwd is rebuilt by CVS from " + cvsroot + "passwd,v" + reason);
  EXPECT_EQ(r.out, "Unable to open " + repo + "\n");
  EXPECT_EQ(live(repo, "passwd"), passwd);
  EXPECT_EQ(live(repo, "users"), users);
  commit_elsewhere_in_cvsroot(dir, repo);
  EXPECT_EQ(live(repo, "passwd"), passwd);

  result listed = rk(repo, {"list"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, "alice<alice@x>: cvs on sys\nbob<no email>:  on sys\n");
}

// A repository whose files CVS does not know is worked on directly.
TEST_F(cvs_kept_files, files_unknown_to_cvs_are_changed_directly) {
  std::string repo = make_cvs_repo(dir, passwd, users, cvs_setup::plain);
  result r = rk(repo, {"del", "bob"});
  EXPECT_EQ(r.status, 0) << r.err;
  commit_elsewhere_in_cvsroot(dir, repo);
  EXPECT_EQ(live(repo, "passwd"), "alice:ah:cvs\n");
}

TEST_F(cvs_kept_files, a_checkout_without_passwd_cannot_carry_a_change) {
  std::string repo = make_cvs_repo(dir, passwd, users, cvs_setup::plain);
  result r = rk(repo, {"-c", "add", "carol"}, "pw\n\n\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("The CVSROOT module of " + repo +
                       " has no passwd file, so a commit could not carry a change: copy the "
                       "live CVSROOT/passwd into a checkout of CVSROOT, add it (cvs add passwd; "
                       "cvs commit) and list it in CVSROOT/checkoutlist\n"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(r.out.ends_with("Unable to open " + repo + "\n")) << r.out;
  EXPECT_EQ(r.out.find("User carol"), std::string::npos);
  EXPECT_EQ(list_dir(sandbox_tmp()), std::vector<std::string>{});
  EXPECT_FALSE(exists(repo + "/CVSROOT/passwd,v"));
  EXPECT_EQ(live(repo, "passwd"), passwd);

  EXPECT_EQ(rk(repo, {"-c", "list"}).status, 0);
}

// In the module but not in checkoutlist, a commit reaches passwd,v but
// never the passwd the server reads.
TEST_F(cvs_kept_files, a_commit_must_reach_the_files_the_server_reads) {
  std::string repo = make_cvs_repo(dir, passwd, users, cvs_setup::in_module);
  result r = rk(repo, {"-c", "del", "bob"});
  EXPECT_EQ(r.status, 1);
  auto unreached = [&](const std::string& name) {
    return "CVSROOT/" + name + " of " + repo +
           " is not listed in CVSROOT/checkoutlist, so a commit would never reach the " + name +
           " the server reads: list it there\n";
  };
  EXPECT_TRUE(r.err.ends_with(unreached("users") + unreached("passwd"))) << r.err;
  EXPECT_EQ(list_dir(sandbox_tmp()), std::vector<std::string>{});
  EXPECT_EQ(revision_count(repo + "/CVSROOT/passwd,v"), 1);
}

}  // namespace
