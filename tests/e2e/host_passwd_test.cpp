// Repositories whose users live in a section of the host-wide password file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "harness.h"

using namespace rk_test;

namespace {

class host_passwd : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }

  result rk(std::vector<std::string> args, std::string input = {}) {
    args.insert(args.begin(), {"-d", repo});
    return run_tool(args, std::move(input));
  }
  std::string host() { return read_file(sandbox_sys_passwd()); }
  void expect_no_temporary_files(std::vector<std::string> names = {"cvs.passwd",
                                                                     "cvs.passwd.lock"}) {
    EXPECT_EQ(list_dir(sandbox_dir() + "/etc"), names);
    EXPECT_EQ(list_dir(sandbox_tmp()), std::vector<std::string>{});
  }

  scratch_dir dir;
  const std::string own_passwd = "own:oh:\n";
  std::string repo = make_repo(dir, own_passwd, "alice:alice@x\nown:own@x\n");
};

TEST_F(host_passwd, only_this_repository_section_is_read_and_replaced) {
  write_file(sandbox_sys_passwd(),
             "# host users\n"
             "/other/repo\n"
             "x:xh:xs\n"
             "  \n"
             "  " + repo + "  \n"
             "alice:ah:asys\n"
             "# comment in the section\n"
             "   \n"
             "bob:bh:\n"
             "\n"
             "/third\n"
             " y:yh:   ");
  result list = rk({"list"});
  EXPECT_EQ(list.out, "alice<alice@x>: asys on sys\nbob<no email>:  on sys\n");
  EXPECT_EQ(rk({"list"}).out, run_tool({"-d", ":local:" + repo, "list"}).out);

  EXPECT_EQ(rk({"del", "bob"}).status, 0);
  EXPECT_EQ(host(),
            "# host users\n"
            "/other/repo\n"
            "x:xh:xs\n"
            "  \n"
            + repo + "\n"
            "alice:ah:asys\n"
            "\n"
            "/third\n"
            "y:yh:\n");
  EXPECT_EQ(read_file(repo + "/CVSROOT/passwd"), own_passwd);  // never used
  EXPECT_EQ(read_file(repo + "/CVSROOT/users"), "alice:alice@x\n");
}

TEST_F(host_passwd, a_section_may_run_to_the_end_of_the_file) {
  // A carriage return makes a line that does not end the section.
  write_file(sandbox_sys_passwd(), repo + "\nalice:ah:\n\r\nbob:bh:");
  EXPECT_EQ(rk({"list"}).out, "alice<alice@x>:  on sys\nbob<no email>:  on sys\n");
  EXPECT_EQ(rk({"del", "alice"}).status, 0);
  EXPECT_EQ(host(), repo + "\nbob:bh:\n\n");
}

TEST_F(host_passwd, a_repository_without_a_section_gets_one_at_the_end) {
  // A location ending in '/' is another section's name.
  write_file(sandbox_sys_passwd(), "/other\nx:xh:\n" + repo + "\nalice:ah:\n");
  unlink((repo + "/CVSROOT/users").c_str());
  result r = run_tool({"-d", repo + "/", "-C", "add", "carl"}, "chHASH0123456\n\n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(host(), "/other\nx:xh:\n" + repo + "\nalice:ah:\n\n" + repo + "/\ncarl:chHASH0123456:\n\n");
  EXPECT_EQ(run_tool({"-d", repo + "/", "list"}).out, "carl<no email>:  on sys\n");
  EXPECT_EQ(rk({"list", "carl", "alice"}).out, "carl: no such user\nalice<no email>:  on sys\n");
}

// Once the host file exists it is in use for every repository: one without
// a section there hears that its own passwd is not used, and a change that
// adds a section says so. A repository with a section hears nothing.
TEST_F(host_passwd, which_file_is_in_use_is_said_where_it_misleads) {
  write_file(sandbox_sys_passwd(), "/other\nx:xh:\n");
  const std::string warning = "Warning: " + sandbox_sys_passwd() + " is in use and has no section for " +
                              repo + ", so the users in " + repo +
                              "/CVSROOT/passwd (which a stock CVS server reads) are not used\n";
  result listed = rk({"list"});
  EXPECT_EQ(listed.err, warning + "No users in database\n");
  result added = rk({"-C", "add", "carl"}, "chHASH0123456\n\n\n");
  EXPECT_EQ(added.status, 0);
  EXPECT_EQ(added.err, warning + sandbox_sys_passwd() + ": a section for " + repo + " is added\n");
  EXPECT_EQ(host(), "/other\nx:xh:\n\n" + repo + "\ncarl:chHASH0123456:\n\n");
  EXPECT_EQ(rk({"list"}).err, "");
  // Without users of its own there is nothing to be misled about.
  write_file(repo + "/CVSROOT/passwd", "# nobody\n");
  write_file(sandbox_sys_passwd(), "/other\nx:xh:\n");
  EXPECT_EQ(rk({"list"}).err, "No users in database\n");
}

// An administrator who may not read the host file works on the
// repository's own passwd, and takes no lock of the host file's.
TEST_F(host_passwd, an_unreadable_host_file_leaves_the_repository_passwd_in_use) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the host file away";
  write_file(sandbox_sys_passwd(), repo + "\nalice:ah:\n");
  ASSERT_EQ(chmod(sandbox_sys_passwd().c_str(), 0600), 0);
  ASSERT_EQ(chown(sandbox_sys_passwd().c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown((sandbox_dir() + "/etc").c_str(), 65534, 65534), 0);
  run_options options;
  options.args = {"-d", repo, "-C", "add", "carl"};
  options.input = "chHASH0123456\n\n\n";
  options.in_child = drop_file_access_override_in_child;
  result r = run_tool(options);
  chown((sandbox_dir() + "/etc").c_str(), 0, 0);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(read_file(repo + "/CVSROOT/passwd"), own_passwd + "carl:chHASH0123456:\n");
  EXPECT_EQ(host(), repo + "\nalice:ah:\n");
  expect_no_temporary_files({"cvs.passwd"});
}

TEST_F(host_passwd, an_invalid_line_falls_back_to_the_repository_passwd) {
  const std::string content = repo + "\nalice:ah:\nnot a user\nbob:bh:\n";
  write_file(sandbox_sys_passwd(), content);
  result r = rk({"list"});
  EXPECT_EQ(r.err, "Invalid line 3 in " + sandbox_sys_passwd() + "\nCouldn't hfile_read\n");
  // What the section gave before the fault stays, ahead of the repository's own users.
  EXPECT_EQ(r.out, "alice<alice@x>:  on sys\nown<own@x>:  on sys\n");
  EXPECT_EQ(rk({"del", "own"}).status, 0);
  EXPECT_EQ(read_file(repo + "/CVSROOT/passwd"), "alice:ah:\n");
  EXPECT_EQ(host(), content);
}

TEST_F(host_passwd, rewrite_keeps_mode_and_owner_on_the_same_file_system) {
  write_file(sandbox_sys_passwd(), repo + "\nalice:ah:\nbob:bh:\n");
  ASSERT_EQ(chmod(sandbox_sys_passwd().c_str(), 0640), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(sandbox_sys_passwd().c_str(), 65534, 65534), 0);
  }
  ino_t before = file_status(sandbox_sys_passwd()).st_ino;

  EXPECT_EQ(rk({"del", "bob"}).status, 0);
  struct stat after = file_status(sandbox_sys_passwd());
  EXPECT_EQ(host(), repo + "\nalice:ah:\n\n");
  EXPECT_NE(after.st_ino, before);  // replaced by a rename, not rewritten in place
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(after.st_gid, 65534u);
  }
  expect_no_temporary_files();
}

// The new host file is written beside it from the start: no name in a
// shared temporary directory (which whoever owns the host file could swap
// for a link) is ever opened, so the temporary directory need not even be
// there.
TEST_F(host_passwd, the_new_host_file_never_passes_through_the_temporary_directory) {
  std::filesystem::remove_all(sandbox_tmp());
  write_file(sandbox_sys_passwd(), "/other\nx:xh:\n\n" + repo + "\nalice:ah:\nbob:bh:\n");
  ASSERT_EQ(chmod(sandbox_sys_passwd().c_str(), 0604), 0);

  EXPECT_EQ(rk({"rename", "bob", "robert"}).status, 0);
  EXPECT_EQ(host(), "/other\nx:xh:\n\n" + repo + "\nalice:ah:\nrobert:bh:\n\n");
  EXPECT_EQ(file_status(sandbox_sys_passwd()).st_mode & 07777, 0604u);
  EXPECT_FALSE(exists(sandbox_tmp()));
  EXPECT_EQ(list_dir(sandbox_dir() + "/etc"), (std::vector<std::string>{"cvs.passwd", "cvs.passwd.lock"}));
}

TEST_F(host_passwd, failed_writes_leave_every_file_as_it_was) {
  const std::string content = repo + "\nalice:" + std::string(100, 'h') + ":\nbob:bh:\n";
  write_file(sandbox_sys_passwd(), content);
  write_file(repo + "/CVSROOT/users", "bob:" + std::string(1000, 'b') + "@x\n");
  const std::string users = read_file(repo + "/CVSROOT/users");
  const unsigned long new_host_size = (repo + "\nalicia:" + std::string(100, 'h') + ":\nbob:bh:\n\n").size();
  struct {
    const char* what;
    unsigned long limit;
    std::string err;
  } cases[] = {
      {"both fail", 20, repo + "/CVSROOT/users: File too large\n" + sandbox_sys_passwd() +
                            ": File too large\n"},
      // The new host file fits, the new users file does not.
      {"users fails", new_host_size + 10, repo + "/CVSROOT/users: File too large\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    run_options options;
    options.args = {"-d", repo, "rename", "alice", "alicia"};
    unsigned long limit = c.limit;
    options.in_child = [limit] { limit_file_size_in_child(limit); };
    result r = run_tool(options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(host(), content);
    EXPECT_EQ(read_file(repo + "/CVSROOT/users"), users);
    expect_no_temporary_files();
  }
}

TEST_F(host_passwd, a_failed_host_file_keeps_the_users_file_too) {
  const std::string content = repo + "\nalice:" + std::string(1000, 'h') + ":\n";
  write_file(sandbox_sys_passwd(), content);
  run_options options;
  options.args = {"-d", repo, "rename", "alice", "alicia"};
  options.in_child = [] { limit_file_size_in_child(100); };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, sandbox_sys_passwd() + ": File too large\n");
  EXPECT_EQ(host(), content);
  EXPECT_EQ(read_file(repo + "/CVSROOT/users"), "alice:alice@x\nown:own@x\n");
  expect_no_temporary_files();
}

TEST_F(host_passwd, a_read_only_host_directory_keeps_the_file) {
  const std::string content = repo + "\nalice:ah:\n";
  write_file(sandbox_sys_passwd(), content);
  run_options options;
  options.args = {"-d", repo, "del", "alice"};
  std::string etc = sandbox_dir() + "/etc";
  options.in_child = [etc] { make_read_only_in_child(etc); };
  result r = run_tool(options);
  EXPECT_EQ(r.status, 1);
  const std::string why = geteuid() == 0 ? "Read-only file system" : "Permission denied";
  EXPECT_EQ(r.err, sandbox_sys_passwd() + ".lock: " + why + "\n");
  EXPECT_EQ(r.out, "Unable to open " + repo + "\n");
  EXPECT_EQ(host(), content);
  expect_no_temporary_files({"cvs.passwd"});
}

// A line break in the location would put a header and a user of the
// caller's choosing into the host file; an empty one names no repository.
TEST_F(host_passwd, locations_that_would_inject_lines_are_refused) {
  const std::string content = repo + "\nalice:ah:\n\n";
  write_file(sandbox_sys_passwd(), content);
  // The directory may well exist: whoever may create one can name it so.
  std::filesystem::create_directories(repo + "\nmallory::root/CVSROOT");
  struct {
    std::string location;
    std::string shown;
  } cases[] = {
      {repo + "\nmallory::root", repo + "\\x0amallory::root"},
      {":local:" + repo + "\r", ":local:" + repo + "\\x0d"},
      {"", ""},
      {":local:", ":local:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    result r = run_tool({"-d", c.location, "add", "x"}, "pw\n\n\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Unable to open " + c.shown + "\n");
    EXPECT_EQ(host(), content);
  }
}

}  // namespace
