#include "repodb/hfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cvs/cvs.h"
#include "repodb/file_system.h"
#include "repodb/readable_text.h"
#include "repodb/replacement.h"
#include "repodb/repo.h"
#include "repodb/trusted_path.h"

namespace rk {
namespace {

std::string path_in_repo(const repo& owner, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  return owner.workdir + "/CVSROOT/" + name;
}

int create_empty(const directory& dir, const std::string& name) {
  int fd = openat(dir.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0 && errno != EEXIST) return -1;
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
  auto target = trusted_target(path);
  if (!target) return 0;
  auto dir = directory::open(directory_of(*target));
  if (!dir && errno != ENOENT) {
    // Not a missing directory, which the creation below reports.
    std::perror(printable(directory_of(*target)).c_str());
    return 0;
  }
  std::string file_name = base_name(*target);
  struct stat st {};
  if (!dir || disk().stat_at(dir->fd(), file_name.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      std::perror(printable(path).c_str());
      return 0;
    }
    if (!may_create) return 0;
    if (!dir || create_empty(*dir, file_name) != 0) {
      std::perror("creat");
      return 0;
    }
  } else if (!S_ISREG(st.st_mode)) {
    return 0;
  }

  owner.files.push_front(hfile{&owner, path, std::move(dir), file_name, read, write});
  if (hfile_read(owner.files.front()) >= 0) return 1;
  std::fputs("Couldn't hfile_read\n", stderr);
  owner.files.pop_front();
  return 0;
}

int hfile_read(hfile& file) { return file.read(file); }

int hfile_write(const hfile& file, write_batch& batch) { return file.write(file, batch); }

std::optional<file_text> read_input(const hfile& file) {
  auto content = read_file_at(file.dir->fd(), file.name, file.path);
  if (!content && errno == ENOENT) std::perror(printable(file.path).c_str());
  return content;
}

}  // namespace rk
