#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "cvs/cvs.h"

namespace rk {
namespace {

struct dir_closer {
  void operator()(DIR* dir) const {
    if (closedir(dir) != 0) std::perror("closedir");
  }
};
using dir_handle = std::unique_ptr<DIR, dir_closer>;

int remove_entries(const std::string& path) {
  dir_handle dir(opendir(path.c_str()));
  if (!dir) {
    std::perror("opendir");
    return -1;
  }
  const std::string prefix = path + "/";
  while (const dirent* entry = readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (remove_tree(prefix + entry->d_name) != 0) return -1;
  }
  return 0;
}

}  // namespace

int remove_tree(const std::string& path) {
  if (path.size() > max_path_length) return -1;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return -1;
  if (!S_ISDIR(st.st_mode)) {
    if (unlink(path.c_str()) != 0) {
      std::perror("unlink");
      return -1;
    }
    return 0;
  }
  if (remove_entries(path) != 0) return -1;
  return rmdir(path.c_str()) == 0 ? 0 : -1;
}

}  // namespace rk
