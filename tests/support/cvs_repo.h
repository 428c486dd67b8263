// Repositories made with the real CVS program, as an administrator sets one up.
#pragma once

#include <string>

#include "harness.h"

namespace rk_test {

// cvs init at dir/cvsroot, with passwd (and users) added to the CVSROOT
// module and listed in checkoutlist; returns the repository's path.
std::string make_cvs_repo(const scratch_dir& dir, const std::string& passwd,
                          const std::string& users);
// The number of revisions in a ,v file.
int revision_count(const std::string& rcs_file);

}  // namespace rk_test
