#include <gtest/gtest.h>

#include "harness.h"
#include "repodb/database.h"
#include "repodb/file_formats.h"
#include "repodb/readable_text.h"

namespace rk {
namespace {

TEST(trim_line, drops_c_locale_whitespace_at_both_ends_only) {
  struct {
    std::string line;
    std::optional<std::string> trimmed;
  } cases[] = {
      {"", std::nullopt},
      {"\n", std::nullopt},
      {" \t\r\v\f\n", std::nullopt},
      {"  a : b \r\n", "a : b"},
      {"x", "x"},
      {"\xa0x\xa0\n", "\xa0x\xa0"},  // high-bit bytes are never whitespace
  };
  for (const auto& c : cases) {
    auto got = trim_line(c.line);
    EXPECT_EQ(got ? std::optional<std::string>(*got) : std::nullopt, c.trimmed) << c.line;
  }
}

TEST(handle_pass_line, splits_name_hash_and_system_user) {
  rk_test::scratch_dir dir;
  int handle = repo_open(rk_test::make_repo(dir, ""), false);
  ASSERT_GE(handle, 0);
  struct {
    std::string line;
    std::string name;
    std::optional<std::string> hash, sys_user;
  } cases[] = {
      {"a:h", "a", "h", std::nullopt},
      {"b::", "b", "", ""},
      {"c:h:s1:s2", "c", "h", "s1:s2"},
      {":h:s", "", "h", "s"},
      {"d :h :s", "d ", "h ", "s"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(handle_pass_line(handle, c.line), 0) << c.line;
    std::optional<std::string> hash, sys_user;
    ASSERT_EQ(_get_user_info(handle, c.name, &hash, &sys_user, nullptr), 0) << c.line;
    EXPECT_EQ(hash, c.hash) << c.line;
    EXPECT_EQ(sys_user, c.sys_user) << c.line;
  }
  EXPECT_EQ(handle_pass_line(handle, "x"), -1);
  // A later line without a system user keeps the one read before.
  ASSERT_EQ(handle_pass_line(handle, "c:new"), 0);
  std::optional<std::string> hash, sys_user;
  _get_user_info(handle, "c", &hash, &sys_user, nullptr);
  EXPECT_EQ(hash, "new");
  EXPECT_EQ(sys_user, "s1:s2");
  repo_close_all();
}

TEST(readable_text, defects_of_names_hashes_and_answers) {
  EXPECT_EQ(name_defect("alice"), std::nullopt);
  EXPECT_EQ(name_defect("j\xc3\xb8rn.o'neil-2"), std::nullopt);
  EXPECT_EQ(name_defect("a b"), std::nullopt);
  EXPECT_EQ(name_defect("a\x7f"), "contains a control character");
  EXPECT_EQ(name_defect("\r"), "contains a control character");
  EXPECT_EQ(hash_defect(""), std::nullopt);
  EXPECT_EQ(hash_defect(" $1$x "), std::nullopt);
  EXPECT_EQ(hash_defect("a:b"), "contains ':'");
  EXPECT_EQ(hash_defect("ab\n"), "contains a control character");
  EXPECT_EQ(answer_defect(" user@x:y"), std::nullopt);
  EXPECT_EQ(answer_defect("a\tb"), "contains a control character");
  EXPECT_EQ(answer_defect("a "), "ends with whitespace");
  // Only control characters are escaped: backslashes and UTF-8 stay as they are.
  EXPECT_EQ(printable("a\\b\n\x1b[2J\x7f\xc3\xa9"), "a\\b\\x0a\\x1b[2J\\x7f\xc3\xa9");
}

}  // namespace
}  // namespace rk
