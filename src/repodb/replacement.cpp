#include "repodb/replacement.h"

#include "repodb/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

namespace rk {
namespace {

// Makes a rename in dir survive a crash. Some file systems cannot sync a
// directory (EINVAL); the rename itself stands there all the same.
int sync_directory(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int result = fsync(fd) == 0 || errno == EINVAL ? 0 : -1;
  int saved = errno;
  close(fd);
  errno = saved;
  return result;
}

}  // namespace

std::optional<temp_file> temp_file::create(const std::string& dir, bool holds_passwords,
                                           const char*& failed_call) {
  std::string name = dir + "/.rk_tmXXXXXX";
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    failed_call = "mkstemp";
    return std::nullopt;
  }
  file_handle stream(fdopen(fd, "w"));
  if (!stream) {
    int saved = errno;
    close(fd);
    unlink(name.c_str());
    errno = saved;
    failed_call = "fdopen";
    return std::nullopt;
  }
  std::setvbuf(stream.get(), nullptr, _IOFBF, io_buffer_size);
  return temp_file(std::move(name), std::move(stream), holds_passwords);
}

temp_file::temp_file(std::string path, file_handle stream, bool holds_passwords)
    : path_(std::move(path)), stream_(std::move(stream)), holds_passwords_(holds_passwords) {}

temp_file::temp_file(temp_file&& other) noexcept
    : path_(std::move(other.path_)),
      stream_(std::move(other.stream_)),
      holds_passwords_(other.holds_passwords_),
      exists_(std::exchange(other.exists_, false)) {}

temp_file::~temp_file() { remove(); }

int temp_file::finish(const struct stat& like) {
  std::FILE* file = stream_.get();
  if (std::fflush(file) != 0 || std::ferror(file)) {
    if (errno == 0) errno = EIO;
    return -1;
  }
  int fd = fileno(file);
  if (fchown(fd, like.st_uid, like.st_gid) != 0) {
    // Only root may give a file away; anyone else keeps it, in the old group
    // where a member of it.
    int ignored = fchown(fd, static_cast<uid_t>(-1), like.st_gid);
    static_cast<void>(ignored);
  }
  if (fchmod(fd, like.st_mode & 07777) != 0 || fsync(fd) != 0) return -1;
  if (std::fclose(stream_.release()) != 0) return -1;
  return 0;
}

int temp_file::rename_to(const std::string& target) {
  if (std::rename(path_.c_str(), target.c_str()) != 0) return -1;
  exists_ = false;
  return sync_directory(directory_of(target));
}

int temp_file::take_over(temp_file& other) {
  if (std::rename(other.path_.c_str(), path_.c_str()) != 0) return -1;
  other.exists_ = false;
  stream_.reset();
  return 0;
}

void temp_file::remove() {
  stream_.reset();
  if (!exists_) return;
  exists_ = false;
  if (unlink(path_.c_str()) == 0) return;
  if (holds_passwords_) {
    std::fprintf(stderr,
                 "I'm afraid we couldn't do that. Could you\nplease remove %s ASAP? "
                 "(it contains passwords!)\n",
                 path_.c_str());
  } else {
    std::perror(path_.c_str());
  }
}

std::string rewrite_target(const std::string& path) {
  std::error_code error;
  auto resolved = std::filesystem::canonical(path, error);
  return error ? path : resolved.string();
}

struct stat status_or_new(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return st;
  mode_t mask = umask(0);
  umask(mask);
  st.st_mode = 0666 & ~mask;
  st.st_uid = geteuid();
  st.st_gid = getegid();
  return st;
}

std::string directory_of(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void write_batch::add(temp_file file, std::string target, std::string rename_failure) {
  files_.push_back(staged{std::move(file), std::move(target), std::move(rename_failure)});
}

int write_batch::commit() {
  for (auto& each : files_) {
    if (each.file.rename_to(each.target) == 0) continue;
    if (each.rename_failure.empty()) {
      std::perror(each.target.c_str());
    } else {
      std::fputs(each.rename_failure.c_str(), stderr);
      std::perror(nullptr);
    }
    return -1;
  }
  return 0;
}

std::optional<temp_file> create_beside(const std::string& target, bool holds_passwords) {
  const char* failed_call = nullptr;
  auto file = temp_file::create(directory_of(target), holds_passwords, failed_call);
  if (!file) std::perror(target.c_str());
  return file;
}

int stage_beside(write_batch& batch, temp_file file, const std::string& target) {
  if (file.finish(status_or_new(target)) != 0) {
    std::perror(target.c_str());
    return -1;
  }
  batch.add(std::move(file), target);
  return 0;
}

}  // namespace rk
