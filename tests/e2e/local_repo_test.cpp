// list, del and rename on a local repository, and what they leave in its
// passwd and users files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

using namespace rk_test;

namespace {

class local_repo : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }

  result rk(std::vector<std::string> args) {
    args.insert(args.begin(), {"-d", repo});
    return run_tool(args);
  }
  std::string passwd() { return read_file(repo + "/CVSROOT/passwd"); }
  std::string users() { return read_file(repo + "/CVSROOT/users"); }

  scratch_dir dir;
  std::string repo = make_repo(dir, "alice:Ah:asys\nbob:Bh:\ncarol:Ch\n",
                               "alice:alice@example.org\ncarol:\n");
};

bool same_file_untouched(const struct stat& before, const struct stat& after) {
  return before.st_ino == after.st_ino && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
         before.st_mtim.tv_nsec == after.st_mtim.tv_nsec;
}

TEST_F(local_repo, list_all_and_by_name) {
  result all = rk({"list"});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.out,
            "alice<alice@example.org>: asys on sys\n"
            "bob<no email>:  on sys\n"
            "carol<>: carol on sys\n");
  result named = rk({"list", "dave", "carol"});
  EXPECT_EQ(named.out, "dave: no such user\ncarol<>: carol on sys\n");
  EXPECT_EQ(named.status, 0);
}

// A passwd line (from a remote server, with -c) must not clear the screen
// or retitle the terminal: control characters show as \xNN, the rest as it is.
TEST_F(local_repo, list_shows_control_characters_escaped) {
  write_file(repo + "/CVSROOT/passwd", "ev\x1b]0;pwned\x07il:h:sys\x1b[2J\nb\\\xc3\xa9:h:\n");
  write_file(repo + "/CVSROOT/users", "ev\x1b]0;pwned\x07il:m\x1b[H@x\n");
  result r = rk({"list"});
  EXPECT_EQ(r.out,
            "ev\\x1b]0;pwned\\x07il<m\\x1b[H@x>: sys\\x1b[2J on sys\n"
            "b\\\xc3\xa9<no email>:  on sys\n");
  EXPECT_EQ(rk({"list", "x\x1b[2J"}).out, "x\\x1b[2J: no such user\n");
}

// A file's size is no measure of the memory a run takes: a sparse users file
// of a gigabyte (whoever owns the repository can make one) is refused at
// once, under a data limit far below its size.
TEST_F(local_repo, a_huge_sparse_file_costs_no_memory_of_its_size) {
#ifdef RK_SANITIZED
  GTEST_SKIP() << "the sanitizers' shadow memory counts against the limit";
#endif
  ASSERT_EQ(truncate((repo + "/CVSROOT/users").c_str(), 1L << 30), 0);
  run_options options;
  options.args = {"-d", repo, "list", "bob"};
  options.in_child = [] {
    rlimit limit{256L << 20, 256L << 20};
    setrlimit(RLIMIT_DATA, &limit);
  };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, repo + "/CVSROOT/users: it has holes (a sparse file), so it is not read\n"
                   "Couldn't hfile_read\n");
  EXPECT_EQ(r.out, "bob<no email>:  on sys\n");
}

TEST_F(local_repo, list_of_an_empty_repository) {
  write_file(repo + "/CVSROOT/passwd", "# nobody yet\n");
  result r = rk({"list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "No users in database\n");
  EXPECT_EQ(r.out, "Can't get users list\n");
}

// Addresses live in the users file alone, which the tool never creates.
TEST_F(local_repo, addresses_without_a_users_file_are_not_saved_and_the_run_says_so) {
  scratch_dir other;
  std::string bare = make_repo(other, "alice:ah:\nbob:bh:\n");
  result r = run_tool({"-d", bare, "email", "alice", "bob"}, "a@x\nb@x\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Warning: " + bare +
                       "/CVSROOT/users is missing or cannot be read, so e-mail addresses are not "
                       "saved\n");
  EXPECT_FALSE(exists(bare + "/CVSROOT/users"));
  EXPECT_EQ(run_tool({"-d", bare, "del", "alice"}).err, "");
}

TEST_F(local_repo, missing_passwd_is_created_empty_and_users_is_not) {
  scratch_dir other;
  std::string bare = make_repo(other, std::nullopt);
  result r = run_tool({"-d", ":local:" + bare, "del", "nobody"});
  EXPECT_EQ(r.out, "Error deleting nobody\n");
  EXPECT_EQ(read_file(bare + "/CVSROOT/passwd"), "");
  EXPECT_FALSE(exists(bare + "/CVSROOT/users"));
}

TEST_F(local_repo, write_back_normalises_what_it_read) {
  write_file(repo + "/CVSROOT/passwd",
             "# comment\n"
             "\n"
             "   \t\n"
             "  alice:Ah:asys  \r\n"
             "bob:Bh\n"
             "carol::\n"
             "dave:Dh:x:y\n"
             "ed :Eh: sys\n"
             "alice:A2\n"
             "zz:Zh:\n"
             "ann:Nh:" + std::string(3000, 's'));
  write_file(repo + "/CVSROOT/users", "alice:a@x\nbob:\nghost:g@x\nalice:a2@x:more\n  \n");
  result r = rk({"del", "zz"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(passwd(),
            "alice:A2:asys\n"
            "bob:Bh:\n"
            "carol::\n"
            "dave:Dh:x:y\n"
            "ed :Eh: sys\n"
            "ann:Nh:" + std::string(3000, 's') + "\n");
  EXPECT_EQ(users(), "alice:a2@x:more\nbob:\n");
}

TEST_F(local_repo, del_and_rename_report_per_name_and_go_on) {
  result del = rk({"del", "nobody", "bob"});
  EXPECT_EQ(del.status, 0);
  EXPECT_EQ(del.out, "Error deleting nobody\n");
  EXPECT_EQ(passwd(), "alice:Ah:asys\ncarol:Ch:\n");

  result rename = rk({"rename", "alice", "carol", "ghost", "x", "alice", "al", "al", "ally", "odd"});
  EXPECT_EQ(rename.status, 0);
  EXPECT_EQ(rename.out, "Error alice->carol\nError ghost->x\n");
  EXPECT_EQ(rename.err, "carol: user already exists\nghost: user doesn't exist\n");
  EXPECT_EQ(passwd(), "ally:Ah:asys\ncarol:Ch:\n");
  EXPECT_EQ(users(), "ally:alice@example.org\ncarol:\n");

  EXPECT_EQ(rk({"rename", "ally", "ally"}).err, "ally: user already exists\n");
}

TEST_F(local_repo, rename_refuses_names_that_would_not_read_back) {
  struct {
    std::string new_name;
    std::string shown;
    std::string defect;
  } cases[] = {
      {"", "", "is empty"},
      {"a:b", "a:b", "contains ':'"},
      {"eve\nroot", "eve\\x0aroot", "contains a control character"},
      {"tab\there", "tab\\x09here", "contains a control character"},
      {"#x", "#x", "begins with '#'"},
      {" x", " x", "begins or ends with whitespace"},
      {"x ", "x ", "begins or ends with whitespace"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    result r = rk({"rename", "bob", c.new_name, "carol", "caroline"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Refusing rename of \"bob\" to \"" + c.shown + "\": the new name " +
                         c.defect + "\n");
    EXPECT_EQ(rk({"rename", "caroline", "carol"}).status, 0);
  }
  EXPECT_EQ(passwd(), "alice:Ah:asys\nbob:Bh:\ncarol:Ch:\n");
}

TEST_F(local_repo, an_action_that_changes_nothing_rewrites_nothing) {
  struct stat passwd_before = file_status(repo + "/CVSROOT/passwd");
  struct stat users_before = file_status(repo + "/CVSROOT/users");
  for (auto args : std::vector<std::vector<std::string>>{
           {"list"}, {"del", "nobody"}, {"rename", "x", "y"}, {"rename", "bob"},
           {"rename", "bob", "a:b"}, {"list", "bob"}}) {
    rk(args);
  }
  EXPECT_TRUE(same_file_untouched(passwd_before, file_status(repo + "/CVSROOT/passwd")));
  EXPECT_TRUE(same_file_untouched(users_before, file_status(repo + "/CVSROOT/users")));
}

TEST_F(local_repo, rewrite_keeps_mode_and_links_and_leaves_no_temporary_file) {
  std::string real_passwd = dir / "real-passwd";
  write_file(real_passwd, "bob:Bh:\nzed:Zh:\n");
  chmod(real_passwd.c_str(), 0640);
  unlink((repo + "/CVSROOT/passwd").c_str());
  ASSERT_EQ(symlink(real_passwd.c_str(), (repo + "/CVSROOT/passwd").c_str()), 0);
  chmod((repo + "/CVSROOT/users").c_str(), 0604);

  EXPECT_EQ(rk({"del", "zed"}).status, 0);
  struct stat link {};
  ASSERT_EQ(lstat((repo + "/CVSROOT/passwd").c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
  EXPECT_EQ(read_file(real_passwd), "bob:Bh:\n");
  EXPECT_EQ(file_status(real_passwd).st_mode & 07777, 0640u);
  EXPECT_EQ(file_status(repo + "/CVSROOT/users").st_mode & 07777, 0604u);
  EXPECT_EQ(list_dir(repo + "/CVSROOT"),
            (std::vector<std::string>{".rosterkeep.lock", "passwd", "users"}));
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"real-passwd", "repo"}));
}

TEST_F(local_repo, invalid_passwd_cannot_be_opened) {
  write_file(repo + "/CVSROOT/passwd", "alice:Ah:\n# fine\nnocolon\nbob:Bh:\n");
  result r = rk({"del", "alice"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Invalid line 3 in password file\nCouldn't hfile_read\n");
  EXPECT_EQ(r.out, "Couldn't read any password file in " + repo + "\nUnable to open " + repo + "\n");
  EXPECT_EQ(passwd(), "alice:Ah:\n# fine\nnocolon\nbob:Bh:\n");
}

// A users file that cannot be read whole is listed up to the fault, and no
// change is made without it: passwd alone would part addresses from their
// users (a deleted user's address stays, a renamed one's is lost).
TEST_F(local_repo, a_users_file_not_read_whole_refuses_every_change) {
  const std::string old_passwd = passwd();
  const std::string bad_users = "alice:a@x\nx\ncarol:c@x\n";
  write_file(repo + "/CVSROOT/users", bad_users);
  result r = rk({"list"});
  EXPECT_EQ(r.err, "Invalid line 2 in users file\nCouldn't hfile_read\n");
  EXPECT_EQ(r.out, "alice<a@x>: asys on sys\nbob<no email>:  on sys\ncarol<no email>: carol on sys\n");
  const std::string refusal = "Invalid line 2 in users file\nCouldn't hfile_read\n" + repo +
                              "/CVSROOT/users exists but could not be read whole, so a change now "
                              "would part e-mail addresses from their users; nothing was changed\n";
  const std::vector<std::string> unreadable[] = {{"chmod", "000"}, {"invalid"}};
  for (const auto& why : unreadable) {
    SCOPED_TRACE(why[0]);
    write_file(repo + "/CVSROOT/users", bad_users);
    if (why.size() > 1) chmod((repo + "/CVSROOT/users").c_str(), 0);
    for (std::vector<std::string> action :
         {std::vector<std::string>{"del", "bob"}, {"rename", "alice", "al"}, {"email", "bob"}}) {
      SCOPED_TRACE(action[0]);
      run_options options;
      options.args = {"-d", repo};
      options.args.insert(options.args.end(), action.begin(), action.end());
      options.input = "b@x\n";
      if (why.size() > 1) options.in_child = drop_file_access_override_in_child;
      result changing = run_tool(options);
      EXPECT_EQ(changing.status, 1);
      if (why.size() == 1) {
        EXPECT_EQ(changing.err, refusal);
      }
      EXPECT_NE(changing.err.find("nothing was changed"), std::string::npos) << changing.err;
      EXPECT_EQ(changing.out, "Unable to open " + repo + "\n");
      EXPECT_EQ(passwd(), old_passwd);
      chmod((repo + "/CVSROOT/users").c_str(), 0644);
      EXPECT_EQ(users(), bad_users);
    }
  }
}

TEST_F(local_repo, no_usable_password_file) {
  const std::string cannot_open =
      "Couldn't read any password file in " + repo + "\nUnable to open " + repo + "\n";
  unlink((repo + "/CVSROOT/passwd").c_str());
  mkdir((repo + "/CVSROOT/passwd").c_str(), 0755);
  result directory = rk({"list"});
  EXPECT_EQ(directory.status, 1);
  EXPECT_EQ(directory.err, "");
  EXPECT_EQ(directory.out, cannot_open);

  std::string missing = dir / "missing";
  result no_repo = run_tool({"-d", missing, "list"});
  EXPECT_EQ(no_repo.status, 1);
  EXPECT_EQ(no_repo.err, "creat: No such file or directory\n" + missing +
                            " has no CVSROOT directory: is it a CVS repository (cvs init)?\n");
  EXPECT_EQ(no_repo.out,
            "Couldn't read any password file in " + missing + "\nUnable to open " + missing + "\n");
  EXPECT_FALSE(exists(missing));
}

TEST_F(local_repo, unreadable_passwd) {
  chmod((repo + "/CVSROOT/passwd").c_str(), 0);
  run_options options;
  options.args = {"-d", repo, "list"};
  // Root reads any file: it runs the tool without the powers to do so.
  options.in_child = [] { drop_file_access_override_in_child(); };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, repo + "/CVSROOT/passwd: Permission denied\nCouldn't hfile_read\n");
  EXPECT_EQ(r.out, "Couldn't read any password file in " + repo + "\nUnable to open " + repo + "\n");
}

}  // namespace
