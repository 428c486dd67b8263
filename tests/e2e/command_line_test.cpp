// Options, the usage text, the action lookup and where the repository is.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "harness.h"

using namespace rk_test;

namespace {

std::string usage(const std::string& program) {
  return "Usage: \n" + program +
         " [options] [action]\n\n"
         "options:\n"
         "\t-c - Use cvs(1) to checkout the password/users files\n"
         "\t-C - Ask for precomputed hashes instead of passwords\n"
         "\t-h - Get this help\n"
         "\t-d [repository] - Set the repository's location\n"
         "\t-v - Show current version of rosterkeep\n"
         "actions:\n"
         "\tName\tArguments\n"
         "\t----\t---------\n"
         "\tlist\tlist of usernames || nothing\n"
         "\tadd\tlist of usernames\n"
         "\tdel\tlist of usernames\n"
         "\temail\tuser list\n"
         "\trename\tlist of alternating olduser/newuser\n"
         "\tmisc\tlist of usernames\n"
         "\tsys\tlist of usernames\n"
         "\tpass\tlist of usernames\n";
}

class command_line : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }
  scratch_dir dir;
  // No passwd yet: opening the repository would create one.
  std::string repo = make_repo(dir, std::nullopt);
};

TEST_F(command_line, usage_version_and_lookup_never_open_the_repository) {
  const std::string version = "rosterkeep 1.0.3\n";
  const std::string help = usage("rosterkeep");
  struct {
    std::vector<std::string> args;
    int status;
    std::string out;
  } cases[] = {
      {{}, 1, help},
      {{"-d", repo}, 1, help},
      {{"-d", repo, "-h", "list"}, 1, help},
      {{"-d", repo, "-h", "-v"}, 1, help},
      {{"-d", repo, "-v", "-h"}, 0, version},
      {{"-d", repo, "-v", "list"}, 0, version},
      {{"-d", repo, "-x", "list"}, 1, help},
      {{"-d"}, 1, help},
      {{"-d", repo, "List"}, 1, "Invalid action List\n" + help},
      {{"-d", repo, "lis"}, 1, "Invalid action lis\n" + help},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    result r = run_tool(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_FALSE(exists(repo + "/CVSROOT/passwd"));
  }
  EXPECT_EQ(run_tool({"-x"}).err, sandbox_tool() + ": invalid option -- 'x'\n");
}

TEST_F(command_line, usage_names_the_tool_as_invoked) {
  std::string alias = dir / "cvs-users";
  ASSERT_EQ(symlink(sandbox_tool().c_str(), alias.c_str()), 0);
  result r = run_program({alias, "-h"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, usage("cvs-users"));
  EXPECT_EQ(run_program({alias, "-v"}).out, "rosterkeep 1.0.3\n");
}

TEST_F(command_line, options_end_at_the_action) {
  write_file(repo + "/CVSROOT/passwd", "bob:h:\n");
  result r = run_tool({"-d", repo, "list", "-v", "bob"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "-v: no such user\nbob<no email>:  on sys\n");
}

TEST_F(command_line, location_from_option_environment_or_default) {
  write_file(repo + "/CVSROOT/passwd", "bob:h:sys\n");
  const std::string bob = "bob<no email>: sys on sys\n";
  run_options from_env;
  from_env.args = {"list"};
  from_env.env = {{"CVSROOT", ":local:" + repo}};
  EXPECT_EQ(run_tool(from_env).out, bob);

  run_options option_wins = from_env;
  option_wins.args = {"-d", "/nonexistent", "-d", repo, "list"};
  option_wins.env = {{"CVSROOT", "/nonexistent"}};
  EXPECT_EQ(run_tool(option_wins).out, bob);

  if (exists("/usr/local/cvsroot")) GTEST_SKIP() << "this machine has /usr/local/cvsroot";
  run_options fallback;
  fallback.args = {"list"};
  fallback.env = {{"CVSROOT", std::nullopt}};
  result r = run_tool(fallback);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "creat: No such file or directory\n"
            "/usr/local/cvsroot has no CVSROOT directory: is it a CVS repository (cvs init)?\n");
  EXPECT_EQ(r.out,
            "Couldn't read any password file in :local:/usr/local/cvsroot\n"
            "Unable to open :local:/usr/local/cvsroot\n");
}

TEST_F(command_line, locations_that_cannot_be_opened) {
  result remote = run_tool({"-d", ":pserver:host:/cvs", "list"});
  EXPECT_EQ(remote.status, 1);
  EXPECT_EQ(remote.err,
            "Not using cvs(1) and non-local repository `:pserver:host:/cvs', can't continue, "
            "see the -c switch\n");
  EXPECT_EQ(remote.out, "Unable to open :pserver:host:/cvs\n");

  // Hints after the fixed lines: where the repository is, or what is empty.
  scratch_dir hinted;
  std::filesystem::create_directories(hinted / "repo/CVSROOT");
  result cvsroot = run_tool({"-d", hinted / "repo/CVSROOT", "list"});
  EXPECT_EQ(cvsroot.status, 1);
  EXPECT_EQ(cvsroot.err, "creat: No such file or directory\n" + hinted / "repo/CVSROOT" +
                             " is the CVSROOT directory; the repository is its parent\n");
  for (auto [env, args, said] :
       {std::tuple{std::optional<std::string>(""), std::vector<std::string>{"list"},
                   "CVSROOT is set to an empty value"},
        std::tuple{std::optional<std::string>(), std::vector<std::string>{"-d", "", "list"},
                   "-d \"\""}}) {
    run_options empty;
    empty.args = args;
    empty.env = {{"CVSROOT", env}};
    result r = run_tool(empty);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Unable to open \n");
    EXPECT_EQ(r.err, std::string("The repository location is empty (") + said + "); give one with -d\n");
  }

  result no_directory = run_tool({"-d", ":local", "list"});
  EXPECT_EQ(no_directory.status, 1);
  EXPECT_EQ(no_directory.out, "Unable to open :local\n");

  std::string long_location = dir / std::string(1100, 'd');
  result too_long = run_tool({"-d", long_location, "list"});
  EXPECT_EQ(too_long.status, 1);
  EXPECT_EQ(too_long.err, long_location + "/CVSROOT/passwd: File name too long\n");
  EXPECT_EQ(too_long.out, "Couldn't read any password file in " + long_location +
                              "\nUnable to open " + long_location + "\n");
}

TEST_F(command_line, output_that_cannot_be_written_is_a_failure) {
  write_file(repo + "/CVSROOT/passwd", "bob:h:\n");
  for (auto args : {std::vector<std::string>{"-d", repo, "list"}, {"-v"}}) {
    run_options options;
    options.args = args;
    options.in_child = [] { dup2(open("/dev/full", O_WRONLY), 1); };
    result r = run_tool(options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "standard output: No space left on device\n");
  }
}

}  // namespace
