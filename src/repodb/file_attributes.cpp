#include "repodb/file_attributes.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

#include "repodb/file_system.h"
#include "repodb/readable_text.h"
#include "repodb/replacement.h"

namespace rk {
namespace {

std::string user_name(uid_t uid) {
  const passwd* entry = getpwuid(uid);
  return entry ? entry->pw_name : std::to_string(uid);
}

void give_owner(int to, const struct stat& old, const std::string& target) {
  if (disk().fchown(to, old.st_uid, old.st_gid) == 0) return;
  // Only root may give a file away; anyone else keeps it, in the old group
  // where a member of it, and hears of it.
  disk().fchown(to, static_cast<uid_t>(-1), old.st_gid);
  std::fprintf(stderr,
               "Warning: the new %s belongs to %s, not to %s as the old one did: only root can "
               "give a file away\n",
               printable(target).c_str(), printable(user_name(geteuid())).c_str(),
               printable(user_name(old.st_uid)).c_str());
}

// A security label is the system's to set; a process that may not set one
// leaves the label the new file got.
bool may_skip(std::string_view name, int error) {
  return name.starts_with("security.") && (error == EPERM || error == EACCES || error == ENOTSUP);
}

// Sizes change between the calls that ask for them and the calls that read;
// ERANGE says to ask again.
template <typename Reader>
ssize_t read_sized(std::vector<char>& buffer, Reader read) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    ssize_t size = read(nullptr, 0);
    if (size <= 0) return size;
    buffer.resize(static_cast<std::size_t>(size));
    ssize_t got = read(buffer.data(), buffer.size());
    if (got >= 0 || errno != ERANGE) return got;
  }
  errno = ERANGE;
  return -1;
}

// The names of fd's extended attributes, NUL after each; nothing, errno
// set, when they cannot be listed (ENOTSUP: the file system has none).
std::optional<std::vector<char>> xattr_names(int fd) {
  std::vector<char> names;
  ssize_t length = read_sized(names, [fd](char* data, std::size_t size) {
    return disk().list_xattr(fd, data, size);
  });
  if (length < 0) return std::nullopt;
  names.resize(static_cast<std::size_t>(length));
  return names;
}

bool has_name(const std::vector<char>& names, std::string_view name) {
  for (std::size_t at = 0; at < names.size();) {
    std::string_view each = names.data() + at;
    if (each == name) return true;
    at += each.size() + 1;
  }
  return false;
}

// What the new file got that the old one has not (an ACL from its
// directory's default ACL, say) goes: the new version is the old one's
// equal. A security label stays, as the system set it.
int remove_extra_xattrs(int from, int to, const std::string& target) {
  auto old_names = xattr_names(from);
  auto new_names = xattr_names(to);
  if (!old_names || !new_names) return errno == ENOTSUP ? 0 : -1;
  for (std::size_t at = 0; at < new_names->size();) {
    const char* name = new_names->data() + at;
    at += std::string_view(name).size() + 1;
    if (has_name(*old_names, name) || std::string_view(name).starts_with("security.")) continue;
    if (disk().remove_xattr(to, name) != 0) {
      int saved = errno;
      std::fprintf(stderr, "%s: the attribute %s of the new version cannot be removed\n",
                   printable(target).c_str(), name);
      errno = saved;
      return -1;
    }
  }
  return 0;
}

int copy_xattrs(int from, int to, const std::string& target) {
  std::vector<char> names;
  ssize_t length = read_sized(names, [from](char* data, std::size_t size) {
    return disk().list_xattr(from, data, size);
  });
  if (length < 0) return errno == ENOTSUP ? 0 : -1;
  std::vector<char> value;
  for (std::size_t at = 0; at < static_cast<std::size_t>(length);) {
    const char* name = names.data() + at;
    at += std::string_view(name).size() + 1;
    ssize_t size = read_sized(value, [from, name](char* data, std::size_t room) {
      return disk().get_xattr(from, name, data, room);
    });
    if (size < 0 || disk().set_xattr(to, name, value.data(), static_cast<std::size_t>(size)) != 0) {
      if (may_skip(name, errno)) continue;
      int saved = errno;
      std::fprintf(stderr, "%s: the attribute %s cannot be carried over\n", printable(target).c_str(), name);
      errno = saved;
      return -1;
    }
  }
  return 0;
}

}  // namespace

int carry_attributes(const directory& dir, const std::string& name, int to) {
  int from = disk().open_at(dir.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (from < 0 && errno != ENOENT) return -1;
  struct stat old = new_file_status();
  if (from >= 0 && disk().fstat(from, &old) != 0) {
    int saved = errno;
    disk().close(from);
    errno = saved;
    return -1;
  }
  give_owner(to, old, dir.path_of(name));
  int result = from >= 0 ? remove_extra_xattrs(from, to, dir.path_of(name)) : 0;
  // After the owner: a change of owner may clear the set-id bits.
  if (result == 0) result = disk().fchmod(to, old.st_mode & 07777);
  if (result == 0 && from >= 0) result = copy_xattrs(from, to, dir.path_of(name));
  if (from >= 0) {
    int saved = errno;
    disk().close(from);
    errno = saved;
  }
  return result;
}

}  // namespace rk
