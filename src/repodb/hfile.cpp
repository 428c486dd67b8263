#include "repodb/hfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cvs/cvs.h"
#include "repodb/repo.h"

namespace rk {
namespace {

std::string path_in_repo(const repo& owner, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  return owner.workdir + "/CVSROOT/" + name;
}

int create_empty(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno != EEXIST) {
    std::perror("creat");
    return -1;
  }
  if (fd >= 0) close(fd);
  return 0;
}

}  // namespace

int hfile_add(repo& owner, const std::string& name, bool may_create, int (*read)(hfile&),
              int (*write)(const hfile&, write_batch&)) {
  std::string path = path_in_repo(owner, name);
  if (path.size() > max_path_length) {
    // Cut short, the path would name another file.
    errno = ENAMETOOLONG;
    std::perror(path.c_str());
    return 0;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT || !may_create) return 0;
    if (create_empty(path) != 0) return 0;
  } else if (!S_ISREG(st.st_mode)) {
    return 0;
  }

  owner.files.push_front(hfile{&owner, path, read, write});
  if (hfile_read(owner.files.front()) >= 0) return 1;
  std::fputs("Couldn't hfile_read\n", stderr);
  owner.files.pop_front();
  return 0;
}

int hfile_read(hfile& file) { return file.read(file); }

int hfile_write(const hfile& file, write_batch& batch) { return file.write(file, batch); }

}  // namespace rk
