#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "cvs/cvs.h"
#include "harness.h"

namespace fs = std::filesystem;

namespace rk {
namespace {

TEST(remove_tree, removes_nested_trees_without_following_links) {
  rk_test::scratch_dir dir;
  std::string kept = dir / "kept";
  fs::create_directories(kept);
  rk_test::write_file(kept + "/precious", "x");
  std::string tree = dir / "tree";
  fs::create_directories(tree + "/a/b/c");
  rk_test::write_file(tree + "/a/b/c/file", "x");
  rk_test::write_file(tree + "/top", "x");
  fs::create_directory_symlink(kept, tree + "/a/link");

  EXPECT_EQ(remove_tree(tree), 0);
  EXPECT_FALSE(rk_test::exists(tree));
  EXPECT_TRUE(rk_test::exists(kept + "/precious"));
  EXPECT_EQ(remove_tree(tree), -1);
  EXPECT_EQ(remove_tree(dir / std::string(1100, 'x')), -1);
}

}  // namespace
}  // namespace rk
