// The write-back is all or nothing: whichever single call of it fails, and
// wherever a run is killed, passwd and users end both old or both new.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cvs_repo.h"
#include "harness.h"
#include "repodb/database.h"
#include "repodb/file_system.h"

namespace rk {
namespace {

const std::string old_passwd = "alice:ah:asys\nbob:bh:\n";
const std::string old_users = "alice:alice@x\n";
const std::string new_passwd = "alicia:ah:asys\nbob:bh:\n";
const std::string new_users = "alicia:alice@x\n";

// Counts every call by name and makes one of them fail.
class failing_disk : public file_system {
 public:
  std::map<std::string, int> counts;
  std::string fail_call;
  int fail_at = 0;

  int open_dir(const char* path) override {
    return hit("open_dir") ? -1 : file_system::open_dir(path);
  }
  int open_at(int dir, const char* name, int flags, mode_t mode) override {
    return hit("open_at") ? -1 : file_system::open_at(dir, name, flags, mode);
  }
  ssize_t write(int fd, const void* data, std::size_t size) override {
    return hit("write") ? -1 : file_system::write(fd, data, size);
  }
  ssize_t read(int fd, void* data, std::size_t size) override {
    return hit("read") ? -1 : file_system::read(fd, data, size);
  }
  off_t seek(int fd, off_t offset, int whence) override {
    return hit("seek") ? -1 : file_system::seek(fd, offset, whence);
  }
  int fstat(int fd, struct stat* status) override {
    return hit("fstat") ? -1 : file_system::fstat(fd, status);
  }
  int stat_at(int dir, const char* name, struct stat* status) override {
    return hit("stat_at") ? -1 : file_system::stat_at(dir, name, status);
  }
  int fsync(int fd) override { return hit("fsync") ? -1 : file_system::fsync(fd); }
  int fchmod(int fd, mode_t mode) override {
    return hit("fchmod") ? -1 : file_system::fchmod(fd, mode);
  }
  int fchown(int fd, uid_t owner, gid_t group) override {
    return hit("fchown") ? -1 : file_system::fchown(fd, owner, group);
  }
  ssize_t list_xattr(int fd, char* names, std::size_t size) override {
    return hit("list_xattr") ? -1 : file_system::list_xattr(fd, names, size);
  }
  ssize_t get_xattr(int fd, const char* name, void* value, std::size_t size) override {
    return hit("get_xattr") ? -1 : file_system::get_xattr(fd, name, value, size);
  }
  int set_xattr(int fd, const char* name, const void* value, std::size_t size) override {
    return hit("set_xattr") ? -1 : file_system::set_xattr(fd, name, value, size);
  }
  int remove_xattr(int fd, const char* name) override {
    return hit("remove_xattr") ? -1 : file_system::remove_xattr(fd, name);
  }
  ssize_t read_link_at(int dir, const char* name, char* text, std::size_t size) override {
    return hit("read_link_at") ? -1 : file_system::read_link_at(dir, name, text, size);
  }
  int symlink_at(const char* text, int dir, const char* name) override {
    return hit("symlink_at") ? -1 : file_system::symlink_at(text, dir, name);
  }
  int link_at(int from_dir, const char* from, int to_dir, const char* to) override {
    return hit("link_at") ? -1 : file_system::link_at(from_dir, from, to_dir, to);
  }
  int rename_at(int from_dir, const char* from, int to_dir, const char* to) override {
    return hit("rename_at") ? -1 : file_system::rename_at(from_dir, from, to_dir, to);
  }
  int unlink_at(int dir, const char* name) override {
    return hit("unlink_at") ? -1 : file_system::unlink_at(dir, name);
  }
  int close(int fd) override {
    int result = file_system::close(fd);
    return hit("close") ? -1 : result;
  }

 private:
  bool hit(const std::string& call) {
    if (++counts[call] != fail_at || call != fail_call) return false;
    errno = fail_errno;
    return true;
  }

 public:
  int fail_errno = EIO;
};

// Dies the moment the first of the two files has been replaced.
class dying_disk : public file_system {
 public:
  int rename_at(int from_dir, const char* from, int to_dir, const char* to) override {
    int result = file_system::rename_at(from_dir, from, to_dir, to);
    if (result == 0 && std::string(to) == "users") raise(SIGKILL);
    return result;
  }
};

class write_back : public ::testing::Test {
 protected:
  void SetUp() override {
    rk_test::reset_sandbox();
    // An attribute, so that carrying attributes over has work to do.
    ASSERT_EQ(setxattr(file("passwd").c_str(), "user.origin", "kept", 4, 0), 0);
  }
  void TearDown() override { use_disk(nullptr); }

  std::string file(const std::string& name) { return repo + "/CVSROOT/" + name; }
  std::string content(const std::string& name) { return rk_test::read_file(file(name)); }
  // A rename of alice, written back through fs: repo_close's result.
  // Reads, the write-back and all through fs: a run that cannot read its
  // files whole changes nothing.
  int rename_through(file_system& fs) {
    use_disk(&fs);
    int handle = repo_open(repo, false);
    if (handle < 0) {
      use_disk(nullptr);
      return -1;
    }
    EXPECT_EQ(_rename_user(handle, "alice", "alicia"), 0);
    int result = repo_close(handle);
    use_disk(nullptr);
    return result;
  }
  void expect_old() {
    EXPECT_EQ(content("passwd"), old_passwd);
    EXPECT_EQ(content("users"), old_users);
  }
  void expect_new() {
    EXPECT_EQ(content("passwd"), new_passwd);
    EXPECT_EQ(content("users"), new_users);
    char value[8] = {};
    EXPECT_EQ(getxattr(file("passwd").c_str(), "user.origin", value, sizeof value), 4);
    EXPECT_EQ(std::string(value), "kept");
  }
  // One more run puts right whatever is left over, and nothing remains.
  void expect_clean_after_next_run() {
    int handle = repo_open(repo, false);
    ASSERT_GE(handle, 0);
    repo_close(handle);
    EXPECT_EQ(rk_test::list_dir(repo + "/CVSROOT"),
              (std::vector<std::string>{".rosterkeep.lock", "passwd", "users"}));
  }

  rk_test::scratch_dir dir;
  std::string repo = rk_test::make_repo(dir, old_passwd, old_users);
};

TEST_F(write_back, any_single_failing_call_leaves_both_files_old_or_both_new) {
  failing_disk counter;
  ASSERT_EQ(rename_through(counter), 0);
  expect_new();
  std::map<std::string, int> calls = counter.counts;
  for (const char* call : {"open_dir", "open_at", "read", "fstat", "seek", "stat_at", "write",
                           "fsync", "fchmod", "list_xattr",
                           "get_xattr", "set_xattr", "symlink_at", "link_at", "rename_at", "unlink_at"}) {
    EXPECT_GT(calls[call], 0) << call << " is never made";
  }
  for (const auto& [call, count] : calls) {
    for (int at = 1; at <= count; ++at) {
      SCOPED_TRACE(call + " #" + std::to_string(at));
      rk_test::write_file(file("passwd"), old_passwd);
      rk_test::write_file(file("users"), old_users);
      ASSERT_EQ(setxattr(file("passwd").c_str(), "user.origin", "kept", 4, 0), 0);
      failing_disk failing;
      failing.fail_call = call;
      failing.fail_at = at;
      ::testing::internal::CaptureStderr();
      int result = rename_through(failing);
      std::string err = ::testing::internal::GetCapturedStderr();
      if (result == 0) {
        expect_new();
      } else {
        EXPECT_EQ(result, -1);
        EXPECT_NE(err, "") << "a failure that says nothing";
        expect_old();
      }
      ::testing::internal::CaptureStderr();
      expect_clean_after_next_run();
      ::testing::internal::GetCapturedStderr();
    }
  }
}

// Reads that come short: a few bytes at a time is how a read may go, an end
// before the file's size means the file is being changed under the run.
class short_reading_disk : public file_system {
 public:
  bool ends_early = false;
  ssize_t read(int fd, void* data, std::size_t size) override {
    if (ends_early && ++reads == 2) return 0;
    return file_system::read(fd, data, std::min<std::size_t>(size, 3));
  }
  int reads = 0;
};

TEST_F(write_back, short_reads_are_read_on_and_an_early_end_changes_nothing) {
  for (bool ends_early : {false, true}) {
    SCOPED_TRACE(ends_early ? "an early end" : "three bytes a read");
    rk_test::write_file(file("passwd"), old_passwd);
    rk_test::write_file(file("users"), old_users);
    short_reading_disk disk;
    disk.ends_early = ends_early;
    ::testing::internal::CaptureStderr();
    int result = rename_through(disk);
    std::string err = ::testing::internal::GetCapturedStderr();
    if (ends_early) {
      EXPECT_EQ(result, -1);
      EXPECT_NE(err.find(file("passwd") + ": "), std::string::npos) << err;
      expect_old();
    } else {
      EXPECT_EQ(result, 0) << err;
      expect_new();
    }
  }
}

// Files of thousands of users, with lines of every kind: the lines that stand
// as they are written are copied as they were read, the others written anew,
// and the new files are what writing every line anew would give.
struct big_files {
  std::string passwd, users;
  std::string new_passwd, new_users;
};

big_files make_big_files() {
  big_files f;
  std::vector<std::string> order;
  std::map<std::string, std::pair<std::string, std::string>> pass;  // hash, system user
  std::map<std::string, std::string> email;
  auto read_pass = [&](const std::string& name, const std::string& hash,
                       const std::optional<std::string>& sys) {
    if (!pass.count(name)) order.push_back(name);
    pass[name].first = hash;
    if (sys) pass[name].second = *sys;
  };
  for (int n = 1; n <= 30000; ++n) {
    std::string name = "u" + std::to_string(n);
    std::string hash = "hash-of-" + std::to_string(n) + "-0123456789abcdef";
    if (n % 7919 == 0) {
      f.passwd += name + ":" + hash + ":cvs\r\n";
    } else if (n % 5003 == 0) {
      f.passwd += "  " + name + ":" + hash + ":cvs\n";
    } else if (n % 6007 == 0) {
      f.passwd += "# a comment\n\n" + name + ":" + hash + "\n";
      read_pass(name, hash, std::nullopt);
      continue;
    } else {
      f.passwd += name + ":" + hash + ":cvs\n";
    }
    read_pass(name, hash, "cvs");
    if (n % 9001 == 0) {
      // A name again: once with a hash alone, once with a whole line as long
      // as the first, which must not be taken for the first line as read.
      std::string earlier = "u" + std::to_string(n / 2);
      if (n / 9001 % 2) {
        f.passwd += earlier + ":again\n";
        read_pass(earlier, "again", std::nullopt);
      } else {
        std::string again = "hash-of-" + std::to_string(n / 2) + "-fedcba9876543210";
        f.passwd += earlier + ":" + again + ":cvs\n";
        read_pass(earlier, again, "cvs");
      }
    }
  }
  for (std::size_t i = 0; i < order.size(); ++i) {
    // Some out of order, some without an address, one nobody has.
    std::size_t at = i % 7000 == 0 && i + 1 < order.size() ? i + 1 : i % 7000 == 1 ? i - 1 : i;
    if (at % 9000 == 5) continue;
    f.users += order[at] + ":" + order[at] + "@example.org\n";
    email[order[at]] = order[at] + "@example.org";
    if (i == 12345) f.users += "nobody:nobody@example.org\n";
  }
  // What the test does: a user deleted, a hash changed, a user renamed.
  order.erase(std::find(order.begin(), order.end(), "u15000"));
  pass["u20000"].first = "new";
  *std::find(order.begin(), order.end(), "u25000") = "renamed";
  pass["renamed"] = pass["u25000"];
  if (email.count("u25000")) email["renamed"] = email["u25000"];
  for (const std::string& name : order) {
    f.new_passwd += name + ":" + pass[name].first + ":" + pass[name].second + "\n";
    if (email.count(name)) f.new_users += name + ":" + email[name] + "\n";
  }
  return f;
}

TEST_F(write_back, lines_as_read_are_copied_and_the_others_written_anew) {
  const big_files f = make_big_files();
  struct {
    const char* what;
    int write_errno;  // 0: writes work
    bool written;
  } cases[] = {
      {"writes work", 0, true},
      {"the disk fails", EIO, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    rk_test::write_file(file("passwd"), f.passwd);
    rk_test::write_file(file("users"), f.users);
    int handle = repo_open(repo, false);
    ASSERT_GE(handle, 0);
    EXPECT_EQ(_del_user(handle, "u15000"), 0);
    EXPECT_EQ(_set_user_info(handle, "u20000", "new", std::nullopt, std::nullopt), 0);
    EXPECT_EQ(_rename_user(handle, "u25000", "renamed"), 0);
    failing_disk disk;
    if (c.write_errno) {
      disk.fail_call = "write";
      disk.fail_at = 1;
      disk.fail_errno = c.write_errno;
    }
    use_disk(&disk);
    ::testing::internal::CaptureStderr();
    int result = repo_close(handle);
    std::string err = ::testing::internal::GetCapturedStderr();
    use_disk(nullptr);
    EXPECT_EQ(result, c.written ? 0 : -1) << err;
    EXPECT_TRUE(content("passwd") == (c.written ? f.new_passwd : f.passwd));
    EXPECT_TRUE(content("users") == (c.written ? f.new_users : f.users));
  }
}

// The next run puts the old versions back before it reads anything, be it
// one that changes or one that only lists. A journal whose text would be too
// long for a symbolic link is a file: the long repository's path is built to
// exactly 990 characters, wherever the clone lives, which puts its journal
// over the limit.
TEST_F(write_back, a_run_killed_between_the_renames_is_undone_by_the_next) {
  const std::size_t long_length = 990;
  if (dir.path().size() + 2 > long_length) GTEST_SKIP() << "the scratch directory's path is too long";
  const std::string short_repo = repo;
  std::string long_repo = dir.path();
  while (long_repo.size() < long_length) {
    long_repo += "/" + std::string(std::min<std::size_t>(60, long_length - long_repo.size() - 1), 'd');
  }
  ASSERT_EQ(long_repo.size(), long_length);
  std::filesystem::create_directories(long_repo + "/CVSROOT");
  for (auto [next, location] : {std::pair{open_mode::changing, short_repo},
                                 std::pair{open_mode::reading, short_repo},
                                 std::pair{open_mode::changing, long_repo},
                                 std::pair{open_mode::reading, long_repo}}) {
    SCOPED_TRACE((next == open_mode::changing ? "changing, " : "reading, ") +
                 std::to_string(location.size()) + " characters");
    repo = location;
    rk_test::write_file(file("passwd"), old_passwd);
    rk_test::write_file(file("users"), old_users);
    pid_t child = fork();
    if (child == 0) {
      dying_disk dying;
      rename_through(dying);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    // The kill came between the two renames: users is new, passwd still old.
    EXPECT_EQ(content("users"), new_users);
    EXPECT_EQ(content("passwd"), old_passwd);
    // Its text: each file's path and its backup's (".rk_tm" and six
    // characters beside it), a line each.
    std::size_t journal_text = 0;
    for (const char* name : {"users", "passwd"}) {
      journal_text += file(name).size() + 1 + file(".rk_tmXXXXXX").size() + 1;
    }
    struct stat journal {};
    ASSERT_EQ(lstat(file(".rosterkeep.journal").c_str(), &journal), 0);
    EXPECT_EQ(S_ISLNK(journal.st_mode), journal_text < 4000) << journal_text;
    if (location == long_repo) {
      EXPECT_FALSE(S_ISLNK(journal.st_mode));
    }

    ::testing::internal::CaptureStderr();
    int handle = repo_open(repo, false, next);
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_GE(handle, 0);
    EXPECT_EQ(err, file("users") + ": put back as it was before a run of rosterkeep that was stopped\n");
    expect_old();
    repo_close(handle);
    ::testing::internal::CaptureStderr();
    expect_clean_after_next_run();
    ::testing::internal::GetCapturedStderr();
  }
}

// A checkout goes with its run: a run with -c killed between its renames
// leaves no journal that names the checkout's files, so once the checkout is
// gone the next runs are not stopped by it.
TEST_F(write_back, a_checkout_killed_between_the_renames_leaves_no_journal) {
  rk_test::scratch_dir cvs_dir;
  const std::string location = ":local:" + rk_test::make_cvs_repo(cvs_dir, old_passwd, old_users);
  const std::string cvsroot = cvs_dir / "cvsroot/CVSROOT";
  pid_t child = fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    dying_disk dying;
    use_disk(&dying);
    int handle = repo_open(location, true);
    if (handle < 0 || _rename_user(handle, "alice", "alicia") != 0) _exit(1);
    repo_close(handle);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_FALSE(rk_test::exists(cvsroot + "/.rosterkeep.journal"));
  std::filesystem::remove_all(rk_test::sandbox_tmp());
  std::filesystem::create_directories(rk_test::sandbox_tmp());
  for (open_mode mode : {open_mode::changing, open_mode::reading}) {
    int handle = repo_open(location, true, mode);
    EXPECT_GE(handle, 0);
    if (mode == open_mode::changing) {
      EXPECT_EQ(_del_user(handle, "bob"), 0);
    }
    EXPECT_EQ(repo_close(handle), 0);
  }
}

// A journal names files to rename; one that is not our own could name any.
TEST_F(write_back, a_journal_of_another_user_is_not_followed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the journal away";
  std::string journal = file(".rosterkeep.journal");
  std::string decoy = dir / "decoy";
  rk_test::write_file(decoy, "x\n");
  std::string text = file("passwd") + "\n" + file(".rk_tmAAAAAA") + "\n";
  ASSERT_EQ(symlink(text.c_str(), journal.c_str()), 0);
  ASSERT_EQ(lchown(journal.c_str(), 65534, 65534), 0);
  rk_test::write_file(file(".rk_tmAAAAAA"), "mallory::\n");
  for (open_mode mode : {open_mode::changing, open_mode::reading}) {
    // A run that only lists would show the files mixed: it ends too.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(repo_open(repo, false, mode), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), journal + ": Operation not permitted\n");
    expect_old();
  }
}

}  // namespace
}  // namespace rk
