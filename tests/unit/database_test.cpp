#include <gtest/gtest.h>

#include "harness.h"
#include "repodb/database.h"

namespace rk {
namespace {

class database : public ::testing::Test {
 protected:
  void SetUp() override {
    handle = repo_open(dir, false);
    ASSERT_GE(handle, 0);
  }
  void TearDown() override { repo_close_all(); }
  std::vector<std::string> names() { return _list_users(handle).value_or(std::vector<std::string>{}); }

  rk_test::scratch_dir scratch;
  std::string dir = rk_test::make_repo(scratch, "");
  int handle = -1;
};

TEST_F(database, absent_fields_are_left_alone_and_empty_ones_stored) {
  ASSERT_EQ(_set_user_info(handle, "a", std::nullopt, std::nullopt, std::nullopt), 0);
  std::optional<std::string> hash = "x", sys_user = "x", email = "x";
  ASSERT_EQ(_get_user_info(handle, "a", &hash, &sys_user, &email), 0);
  EXPECT_EQ(hash, std::nullopt);
  EXPECT_EQ(sys_user, std::nullopt);
  EXPECT_EQ(email, std::nullopt);

  _set_user_info(handle, "a", "h", "", std::nullopt);
  _set_user_info(handle, "a", std::nullopt, std::nullopt, "a@x");
  _get_user_info(handle, "a", &hash, &sys_user, &email);
  EXPECT_EQ(hash, "h");
  EXPECT_EQ(sys_user, "");
  EXPECT_EQ(email, "a@x");
  EXPECT_EQ(_get_user_info(handle, "A", nullptr, nullptr, nullptr), -1);
}

TEST_F(database, order_is_kept_through_renames_and_deletes) {
  for (const char* name : {"a", "b", "c", "d"}) {
    _set_user_info(handle, name, std::nullopt, std::nullopt, std::nullopt);
  }
  EXPECT_EQ(_del_user(handle, "b"), 0);
  EXPECT_EQ(_del_user(handle, "b"), -1);
  EXPECT_EQ(_rename_user(handle, "a", "b"), 0);
  EXPECT_EQ(_rename_user(handle, "b", "c"), -1);
  EXPECT_EQ(_rename_user(handle, "zz", "c"), -1);  // the new name is checked first
  EXPECT_EQ(_rename_user(handle, "zz", "yy"), -1);
  _set_user_info(handle, "a", std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(names(), (std::vector<std::string>{"b", "c", "d", "a"}));
  EXPECT_EQ(_get_user_info(handle, "a", nullptr, nullptr, nullptr), 0);
}

TEST_F(database, bad_handles_fail) {
  for (int bad : {-1, 128, handle + 1}) {
    EXPECT_EQ(_set_user_info(bad, "a", std::nullopt, std::nullopt, std::nullopt), -1);
    EXPECT_EQ(_get_user_info(bad, "a", nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(_del_user(bad, "a"), -1);
    EXPECT_EQ(_rename_user(bad, "a", "b"), -1);
    EXPECT_EQ(_list_users(bad), std::nullopt);
    EXPECT_EQ(repo_close(bad), -1);
  }
}

// The first open holds the repository's lock; the others only read.
TEST_F(database, the_table_holds_128_repositories) {
  for (int i = 1; i < 128; ++i) ASSERT_EQ(repo_open(dir, false, open_mode::reading), i);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(repo_open(dir, false, open_mode::reading), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Too many openned repositories\n");
  EXPECT_EQ(repo_close(5), 0);
  EXPECT_EQ(repo_open(dir, false, open_mode::reading), 5);
}

TEST(strip_method, drops_only_the_method) {
  EXPECT_EQ(strip_method("/cvs"), "/cvs");
  EXPECT_EQ(strip_method(":local:/cvs"), "/cvs");
  EXPECT_EQ(strip_method(":pserver:host:/cvs"), "host:/cvs");
  EXPECT_EQ(strip_method(":local"), std::nullopt);
  EXPECT_EQ(strip_method(""), "");
}

}  // namespace
}  // namespace rk
