// Following symbolic links only where the kernel's protected-symlinks rule
// would: a link that the running user or the owner of what it points to
// owns. Run as root, anything else could make the tool read or rewrite a
// file that the link's owner may not touch.
#pragma once

#include <optional>
#include <string>

namespace rk {

// The absolute path of what path names, every symbolic link on the way
// resolved; nothing when a link on the way breaks the rule (reported on
// standard error, naming the link). The last part need not exist.
std::optional<std::string> trusted_target(const std::string& path);

}  // namespace rk
