#include "repodb/trusted_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <vector>

#include "repodb/replacement.h"

namespace rk {
namespace {

constexpr int max_links = 40;

std::deque<std::string> parts_of(const std::string& path) {
  std::deque<std::string> parts;
  std::size_t at = 0;
  while (at <= path.size()) {
    auto slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    if (slash > at) parts.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

std::string current_directory() {
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

bool may_follow(const std::string& link, const struct stat& link_status) {
  struct stat target {};
  if (link_status.st_uid == geteuid()) return true;
  if (stat(link.c_str(), &target) == 0 && target.st_uid == link_status.st_uid) return true;
  std::fprintf(stderr,
               "%s: not following a symbolic link that belongs to neither this user nor the "
               "owner of what it points to\n",
               link.c_str());
  return false;
}

std::string link_text(const std::string& link, const struct stat& st) {
  std::string text(static_cast<std::size_t>(st.st_size) + 1, '\0');
  ssize_t got = readlink(link.c_str(), text.data(), text.size());
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

}  // namespace

std::optional<std::string> trusted_target(const std::string& path) {
  std::deque<std::string> todo = parts_of(path);
  std::string done = path.starts_with('/') ? "" : current_directory();
  if (done == "/") done.clear();
  int links = 0;
  while (!todo.empty()) {
    std::string part = std::move(todo.front());
    todo.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      done = done.substr(0, done.rfind('/') == std::string::npos ? 0 : done.rfind('/'));
      continue;
    }
    std::string candidate = done + "/" + part;
    struct stat st {};
    // What does not exist (yet) is for the caller to find out.
    if (lstat(candidate.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      done = std::move(candidate);
      continue;
    }
    if (++links > max_links || !may_follow(candidate, st)) {
      if (links > max_links) {
        errno = ELOOP;
        std::perror(candidate.c_str());
      }
      return std::nullopt;
    }
    std::string text = link_text(candidate, st);
    auto more = parts_of(text);
    todo.insert(todo.begin(), more.begin(), more.end());
    if (text.starts_with('/')) done.clear();
  }
  return done.empty() ? "/" : done;
}

}  // namespace rk
