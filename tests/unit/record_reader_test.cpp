// Reading a passwd-like file into the user list, on one thread for a small
// file and on two for a large one: both must give what a plain reading of
// the lines gives, in order, and stop at the same invalid line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "harness.h"
#include "repodb/file_formats.h"
#include "repodb/line_reader.h"
#include "repodb/record_reader.h"

namespace rk {
namespace {

struct expected_text {
  std::string text;
  std::map<std::string, std::string> hash_of;
  std::vector<std::string> order;
  unsigned long long lines = 0;
};

// About size bytes of records, with comments, blank and padded lines, and
// names given again with a new hash; invalid_at: a line number, or 0.
expected_text make_text(std::size_t size, unsigned long long invalid_at) {
  expected_text e;
  for (unsigned long long n = 1; e.text.size() < size; ++n) {
    std::string name = "u" + std::to_string(n % 9973 == 0 ? n / 2 : n);
    std::string hash = "h" + std::to_string(n);
    std::string line;
    if (n == invalid_at) {
      line = "no colon here";
    } else if (n % 7 == 0) {
      line = "# a comment: " + name;
    } else if (n % 11 == 0) {
      line = " \t";
    } else {
      line = (n % 5 == 0 ? "  " : "") + name + ":" + hash + ":cvs";
      if (invalid_at == 0 || n < invalid_at) {
        if (!e.hash_of.count(name)) e.order.push_back(name);
        e.hash_of[name] = hash;
      }
    }
    e.text += line + (n % 3 == 0 ? "\r\n" : "\n");
    e.lines = n;
  }
  return e;
}

void expect_read_as(const expected_text& e, int expected_result, const std::string& expected_err) {
  rk_test::scratch_dir dir;
  std::string path = dir.path() + "/passwd";
  rk_test::write_file(path, e.text);
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  auto content = mapped_file::of(fd);
  close(fd);
  ASSERT_TRUE(content);

  user_list users;
  testing::internal::CaptureStderr();
  int result;
  {
    user_loader loader(users, content, estimate_lines(content->text()), true);
    result = read_records(content->text(), "test file", parse_pass_line, loader);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), expected_err);
  EXPECT_EQ(result, expected_result);

  ASSERT_EQ(users.size(), e.order.size());
  std::size_t at = 0;
  users.for_each([&](const user& u) {
    ASSERT_LT(at, e.order.size());
    EXPECT_EQ(u.name, e.order[at]);
    EXPECT_EQ(u.hash, e.hash_of.at(e.order[at]));
    EXPECT_EQ(u.sys_user, "cvs");
    ++at;
  });
}

TEST(read_records, small_and_large_files_read_alike) {
  for (std::size_t size : {std::size_t{50'000}, std::size_t{6'000'000}}) {
    SCOPED_TRACE(size);
    expect_read_as(make_text(size, 0), 0, "");
  }
}

TEST(read_records, stop_at_the_first_invalid_line) {
  for (std::size_t size : {std::size_t{50'000}, std::size_t{6'000'000}}) {
    expected_text whole = make_text(size, 0);
    // Early, in the middle, and on the last line of the text.
    for (unsigned long long at : {2ULL, whole.lines / 2, whole.lines}) {
      SCOPED_TRACE(std::to_string(size) + " bytes, invalid line " + std::to_string(at));
      expected_text e = make_text(size, at);
      expect_read_as(e, -1, "Invalid line " + std::to_string(at) + " in test file\n");
    }
  }
}

}  // namespace
}  // namespace rk
