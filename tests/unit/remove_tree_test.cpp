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
}

// The tool builds no path over 1023 characters: a tree nested deeper is not
// removed past that point, and the removal fails.
TEST(remove_tree, fails_on_a_tree_nested_past_the_longest_path) {
  rk_test::scratch_dir dir;
  std::string tree = dir / "deep";
  std::string path = tree;
  while (path.size() <= max_path_length) path += "/" + std::string(100, 'd');
  fs::create_directories(path);
  rk_test::write_file(path + "/file", "x");
  EXPECT_EQ(remove_tree(tree), -1);
  EXPECT_TRUE(rk_test::exists(path + "/file"));
}

}  // namespace
}  // namespace rk
