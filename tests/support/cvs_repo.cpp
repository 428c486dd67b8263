#include "cvs_repo.h"

#include <stdexcept>

namespace rk_test {
namespace {

void cvs(const std::string& root, std::vector<std::string> args, const std::string& cwd) {
  args.insert(args.begin(), {"cvs", "-Q", "-d", root});
  result r = run_program(args, cwd, {{"HOME", cwd}});
  if (r.status != 0) throw std::runtime_error("cvs failed: " + r.err);
}

}  // namespace

std::string make_cvs_repo(const scratch_dir& dir, const std::string& passwd,
                          const std::string& users, cvs_setup setup) {
  std::string root = dir / "cvsroot";
  std::string work = dir / "admin";
  run_program({"mkdir", "-p", work});
  cvs(root, {"init"}, work);
  if (setup == cvs_setup::plain) {
    write_file(root + "/CVSROOT/passwd", passwd);
    write_file(root + "/CVSROOT/users", users);
  } else {
    cvs(root, {"checkout", "CVSROOT"}, work);
    write_file(work + "/CVSROOT/passwd", passwd);
    write_file(work + "/CVSROOT/users", users);
    if (setup == cvs_setup::kept) {
      std::string checkoutlist = read_file(work + "/CVSROOT/checkoutlist");
      write_file(work + "/CVSROOT/checkoutlist", checkoutlist + "passwd\nusers\n");
    }
    cvs(root, {"add", "passwd", "users"}, work + "/CVSROOT");
    cvs(root, {"commit", "-m", "users of the repository"}, work + "/CVSROOT");
  }
  run_program({"rm", "-rf", work});
  return root;
}

void commit_elsewhere_in_cvsroot(const scratch_dir& dir, const std::string& root) {
  std::string work = dir / "editor";
  run_program({"mkdir", "-p", work});
  cvs(root, {"checkout", "CVSROOT"}, work);
  std::string loginfo = work + "/CVSROOT/loginfo";
  write_file(loginfo, read_file(loginfo) + "# edited\n");
  cvs(root, {"commit", "-m", "loginfo edited"}, work + "/CVSROOT");
  run_program({"rm", "-rf", work});
}

int revision_count(const std::string& rcs_file) {
  std::string text = read_file(rcs_file);
  int count = 0;
  for (auto at = text.find("\ndate\t"); at != std::string::npos; at = text.find("\ndate\t", at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace rk_test
