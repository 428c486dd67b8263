// Repositories made with the real CVS program, as an administrator sets one up.
#pragma once

#include <string>

#include "harness.h"

namespace rk_test {

// How passwd and users stand to CVS in a repository made by make_cvs_repo.
enum class cvs_setup {
  kept,       // added to the CVSROOT module and listed in checkoutlist (what -c needs)
  in_module,  // added to the CVSROOT module only
  plain,      // written into CVSROOT, unknown to CVS (what working without -c needs)
};

// cvs init at dir/cvsroot with passwd and users set up as asked; returns the
// repository's path.
std::string make_cvs_repo(const scratch_dir& dir, const std::string& passwd,
                          const std::string& users, cvs_setup setup = cvs_setup::kept);
// Commits a change of another file in CVSROOT (as an administrator editing
// loginfo), which makes CVS rebuild the files checkoutlist lists.
void commit_elsewhere_in_cvsroot(const scratch_dir& dir, const std::string& root);
// The number of revisions in a ,v file.
int revision_count(const std::string& rcs_file);

}  // namespace rk_test
