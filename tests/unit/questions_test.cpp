#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cli/ask.h"

namespace rk {
namespace {

TEST(make_salt, two_characters_of_the_salt_alphabet) {
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789./";
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    char salt[3] = {'?', '?', '?'};
    make_salt(salt);
    EXPECT_NE(alphabet.find(salt[0]), std::string::npos);
    EXPECT_NE(alphabet.find(salt[1]), std::string::npos);
    EXPECT_EQ(salt[2], '\0');
    seen.insert(salt);
  }
  EXPECT_GT(seen.size(), 100u);  // drawn afresh, not from one clock tick
}

// Salts made by runs that start in the same second differ: they are not
// drawn from a generator seeded with the clock.
TEST(make_salt, runs_started_together_get_different_salts) {
  std::vector<std::string> runs;
  for (int run = 0; run < 2; ++run) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    if (fork() == 0) {
      close(out[0]);
      char salts[3 * 8];
      for (int i = 0; i < 8; ++i) make_salt(salts + 3 * i);
      _exit(write(out[1], salts, sizeof salts) == sizeof salts ? 0 : 1);
    }
    close(out[1]);
    std::string salts(3 * 8, '\0');
    EXPECT_EQ(read(out[0], salts.data(), salts.size()), static_cast<ssize_t>(salts.size()));
    close(out[0]);
    wait(nullptr);
    runs.push_back(salts);
  }
  EXPECT_NE(runs[0], runs[1]);
}

// Runs ask_yes_no in a child with input on its standard input; returns its
// answer and what it printed.
std::pair<bool, std::string> ask_yes_no_with(const std::string& input) {
  int in[2], out[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  pid_t child = fork();
  if (child == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    _exit(ask_yes_no("Sure %s? ", "now") ? 1 : 0);
  }
  close(in[0]);
  close(out[1]);
  EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(in[1]);
  std::string printed;
  char buffer[256];
  ssize_t got = 0;
  while ((got = read(out[0], buffer, sizeof buffer)) > 0) printed.append(buffer, static_cast<std::size_t>(got));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return {WEXITSTATUS(status) == 1, printed};
}

TEST(ask_yes_no, reads_one_character_per_attempt) {
  const std::string invalid = "Invalid character, choose [yYnN]\n";
  auto [yes, printed] = ask_yes_no_with("x\ny\n");
  EXPECT_TRUE(yes);
  EXPECT_EQ(printed, "Sure now? " + invalid + "Sure now? " + invalid + "Sure now? ");
  EXPECT_FALSE(ask_yes_no_with("N").first);
  EXPECT_TRUE(ask_yes_no_with("Y").first);
  EXPECT_FALSE(ask_yes_no_with("").first);
}

}  // namespace
}  // namespace rk
