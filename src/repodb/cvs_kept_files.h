// The files CVS itself keeps in CVSROOT: a file listed in checkoutlist is
// rebuilt from its ,v file at every commit in CVSROOT, and only such a file
// receives what a commit brings.
#pragma once

#include <string>
#include <string_view>

namespace rk {

struct repo;

// Whether the checkoutlist in cvsroot_dir lists name (the first word of a
// line that is not a comment).
bool listed_in_checkoutlist(const std::string& cvsroot_dir, std::string_view name);

// Whether the repository's passwd and users files can take a change that
// lasts: without a checkout, CVS must not be rebuilding them; with one, the
// commit must reach the files the server reads. Reports the file when not.
bool changes_would_last(const repo& r);

// With a checkout: whether it brought a passwd file; reports how to set the
// repository up when not.
bool checkout_has_passwd(const repo& r);

}  // namespace rk
