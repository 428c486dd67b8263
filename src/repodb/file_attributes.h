// What a new version of a file keeps of the old one besides its content.
#pragma once

#include <string>

namespace rk {

class directory;

// Gives the open file to the mode, owner and group (where the process may
// set them) and the extended attributes of the file called name in dir:
// its POSIX ACL and, where the process may set them, its security labels.
// A new file (none called name yet) gets the mode of a file made now.
// 0, or -1 with errno set; an attribute that cannot be carried over is
// reported by name first.
int carry_attributes(const directory& dir, const std::string& name, int to);

}  // namespace rk
