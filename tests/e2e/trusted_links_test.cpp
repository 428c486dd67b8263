// Symbolic links on the way to the files: followed only when they belong to
// the running user or to the owner of what they point to, so that a
// repository owner cannot make root rewrite a file of root's.
#include <gtest/gtest.h>
#include <unistd.h>

#include "harness.h"

using namespace rk_test;

namespace {

constexpr uid_t nobody = 65534;

class trusted_links : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make links of other users";
    reset_sandbox();
    write_file(root_file, "root:secret:\n");
  }
  // A link at path to target, owned by owner.
  void link_as(const std::string& target, const std::string& path, uid_t owner) {
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    ASSERT_EQ(lchown(path.c_str(), owner, owner), 0);
  }
  std::string cvsroot() { return repo + "/CVSROOT"; }
  std::string refusal(const std::string& link) {
    return link +
           ": not following a symbolic link that belongs to neither this user nor the owner of "
           "what it points to\n";
  }

  scratch_dir dir;
  std::string repo = make_repo(dir, "alice:ah:\n", "alice:alice@x\n");
  std::string root_file = dir / "root-owned";
};

TEST_F(trusted_links, a_planted_passwd_link_is_not_followed) {
  std::string passwd = cvsroot() + "/passwd";
  unlink(passwd.c_str());
  link_as(root_file, passwd, nobody);
  result r = run_tool({"-d", repo, "add", "mallory"}, "pw\n\n\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, refusal(passwd));
  EXPECT_EQ(r.out, "Couldn't read any password file in " + repo + "\nUnable to open " + repo + "\n");
  EXPECT_EQ(read_file(root_file), "root:secret:\n");
}

// A users file that is a link not to be followed is not read: list goes on
// without it, a change is refused.
TEST_F(trusted_links, a_planted_users_link_is_not_followed) {
  std::string users = cvsroot() + "/users";
  unlink(users.c_str());
  link_as(root_file, users, nobody);
  result listed = run_tool({"-d", repo, "list"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.err, refusal(users));
  EXPECT_EQ(listed.out, "alice<no email>:  on sys\n");
  result r = run_tool({"-d", repo, "rename", "alice", "alicia"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, refusal(users) + users +
                       " exists but could not be read whole, so a change now would part e-mail "
                       "addresses from their users; nothing was changed\n");
  EXPECT_EQ(read_file(root_file), "root:secret:\n");
  EXPECT_EQ(read_file(cvsroot() + "/passwd"), "alice:ah:\n");
}

TEST_F(trusted_links, a_planted_cvsroot_link_is_not_followed) {
  std::string elsewhere = dir / "elsewhere";
  ASSERT_EQ(rename(cvsroot().c_str(), elsewhere.c_str()), 0);
  ASSERT_EQ(chown(elsewhere.c_str(), 0, 0), 0);
  link_as(elsewhere, cvsroot(), nobody);
  result r = run_tool({"-d", repo, "del", "alice"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, refusal(cvsroot()));
  EXPECT_EQ(read_file(elsewhere + "/passwd"), "alice:ah:\n");
  EXPECT_FALSE(exists(elsewhere + "/.rosterkeep.lock"));
}

// Root's own links, and links of the owner of what they point to, work as
// before: the file they name is replaced and the link stays a link.
TEST_F(trusted_links, links_of_root_or_of_the_files_owner_are_followed) {
  struct {
    const char* what;
    uid_t link_owner;
    uid_t file_owner;
  } cases[] = {{"root's link", 0, nobody}, {"the owner's link", nobody, nobody}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string real = dir / "real-passwd";
    std::string passwd = cvsroot() + "/passwd";
    write_file(real, "alice:ah:\nbob:bh:\n");
    ASSERT_EQ(chown(real.c_str(), c.file_owner, c.file_owner), 0);
    unlink(passwd.c_str());
    link_as(real, passwd, c.link_owner);
    result r = run_tool({"-d", repo, "del", "bob"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(real), "alice:ah:\n");
    struct stat st {};
    ASSERT_EQ(lstat(passwd.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(file_status(real).st_uid, c.file_owner);
  }
}

}  // namespace
