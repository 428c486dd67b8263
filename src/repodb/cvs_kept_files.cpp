#include "repodb/cvs_kept_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "repodb/file_formats.h"
#include "repodb/line_reader.h"
#include "repodb/file_text.h"
#include "repodb/replacement.h"
#include "repodb/repo.h"

namespace rk {
namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string_view first_word(std::string_view line) {
  auto end = line.find_first_of(" \t\r\n\v\f");
  return end == std::string_view::npos ? line : line.substr(0, end);
}

std::string cvsroot_dir(const repo& r) { return r.workdir + "/CVSROOT"; }

bool is_in_cvsroot(const repo& r, const hfile& file) {
  return directory_of(file.path) == cvsroot_dir(r);
}

// Without a checkout, a change to a file that CVS rebuilds from its ,v file
// is undone at the next commit of anything in CVSROOT.
bool rebuilt_by_cvs(const repo& r, const hfile& file) {
  std::string name = base_name(file.path);
  if (!exists(file.path + ",v") || !listed_in_checkoutlist(cvsroot_dir(r), name)) return false;
  std::fprintf(stderr,
               "%s is rebuilt by CVS from %s,v (CVSROOT/checkoutlist lists it): a change made "
               "here would be undone at the next commit in CVSROOT; use -c\n",
               file.path.c_str(), file.path.c_str());
  return true;
}

// With a checkout, a commit changes the ,v file, but CVS rebuilds the file
// the server reads only when checkoutlist lists it.
bool unreached_by_commit(const repo& r, const hfile& file) {
  std::string name = base_name(file.path);
  if (listed_in_checkoutlist(cvsroot_dir(r), name)) return false;
  std::fprintf(stderr,
               "CVSROOT/%s of %s is not listed in CVSROOT/checkoutlist, so a commit would "
               "never reach the %s the server reads: list it there\n",
               name.c_str(), r.root.c_str(), name.c_str());
  return true;
}

}  // namespace

bool listed_in_checkoutlist(const std::string& cvsroot, std::string_view name) {
  // A repository without a checkoutlist lists nothing.
  auto dir = directory::open(cvsroot);
  auto content = dir ? read_file_at(dir->fd(), "checkoutlist", cvsroot + "/checkoutlist")
                     : std::nullopt;
  if (!content) return false;
  line_reader lines(content->text);
  std::string_view line;
  while (lines.next(line)) {
    auto trimmed = trim_line(line);
    if (trimmed && trimmed->front() != '#' && first_word(*trimmed) == name) return true;
  }
  return false;
}

bool changes_would_last(const repo& r) {
  bool lasting = true;
  for (const hfile& file : r.files) {
    if (!is_in_cvsroot(r, file)) continue;
    if (r.use_cvs ? unreached_by_commit(r, file) : rebuilt_by_cvs(r, file)) lasting = false;
  }
  return lasting;
}

bool checkout_has_passwd(const repo& r) {
  if (exists(cvsroot_dir(r) + "/passwd")) return true;
  std::fprintf(stderr,
               "The CVSROOT module of %s has no passwd file, so a commit could not carry a "
               "change: copy the live CVSROOT/passwd into a checkout of CVSROOT, add it "
               "(cvs add passwd; cvs commit) and list it in CVSROOT/checkoutlist\n",
               r.root.c_str());
  return false;
}

}  // namespace rk
