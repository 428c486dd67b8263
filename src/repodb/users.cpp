// The user operations of the database.
#include <cstdio>
#include <string>

#include "repodb/database.h"
#include "repodb/readable_text.h"
#include "repodb/repo.h"

namespace rk {
namespace {

void store(repo& r, std::string_view name, user_field which, field_arg value) {
  if (!value) return;
  r.users.set(name, which, *value);
  r.modified = true;
}

// Addresses live in the users file alone; without one they last only as
// long as the run, which the administrator must hear of once.
void warn_addresses_unsaved(repo& r) {
  if (r.has_users_file || r.warned_addresses_unsaved) return;
  r.warned_addresses_unsaved = true;
  if (r.use_cvs) {
    std::fprintf(stderr,
                 "Warning: the checkout of %s has no readable CVSROOT/users, so e-mail "
                 "addresses are not saved\n",
                 r.root.c_str());
  } else {
    std::fprintf(stderr,
                 "Warning: %s/CVSROOT/users is missing or cannot be read, so e-mail addresses "
                 "are not saved\n",
                 r.workdir.c_str());
  }
}

void copy_out(std::optional<std::string>* out, std::optional<std::string_view> field) {
  if (!out) return;
  if (field) {
    out->emplace(*field);
  } else {
    out->reset();
  }
}

}  // namespace

int _set_user_info(int handle, std::string_view name, field_arg hash, field_arg sys_user,
                   field_arg email) {
  repo* r = repo_at(handle);
  if (!r) return -1;
  if (r->users.add(name)) r->modified = true;
  store(*r, name, user_field::hash, hash);
  store(*r, name, user_field::sys_user, sys_user);
  store(*r, name, user_field::email, email);
  if (email) warn_addresses_unsaved(*r);
  return 0;
}

int _get_user_info(int handle, std::string_view name, std::optional<std::string>* hash,
                   std::optional<std::string>* sys_user, std::optional<std::string>* email) {
  repo* r = repo_at(handle);
  if (!r) return -1;
  auto u = r->users.find(name);
  if (!u) return -1;
  copy_out(hash, u->hash);
  copy_out(sys_user, u->sys_user);
  copy_out(email, u->email);
  return 0;
}

int _del_user(int handle, std::string_view name) {
  repo* r = repo_at(handle);
  if (!r || !r->users.erase(name)) return -1;
  r->modified = true;
  return 0;
}

int _rename_user(int handle, std::string_view old_name, std::string_view new_name) {
  repo* r = repo_at(handle);
  if (!r) return -1;
  if (r->users.find(new_name)) {
    std::fprintf(stderr, "%s: user already exists\n", printable(new_name).c_str());
    return -1;
  }
  if (!r->users.find(old_name)) {
    std::fprintf(stderr, "%s: user doesn't exist\n", printable(old_name).c_str());
    return -1;
  }
  r->users.rename(old_name, new_name);
  r->modified = true;
  return 0;
}

long long _visit_users(int handle, user_visitor visit, void* context) {
  repo* r = repo_at(handle);
  if (!r) return -1;
  long long visited = 0;
  bool going = true;
  r->users.for_each([&](const user& u) {
    if (!going) return;
    ++visited;
    going = visit(u.name, u.sys_user, u.email, context);
  });
  return visited;
}

std::optional<std::vector<std::string>> _list_users(int handle) {
  repo* r = repo_at(handle);
  if (!r) return std::nullopt;
  if (r->users.size() == 0) {
    std::fputs("No users in database\n", stderr);
    return std::nullopt;
  }
  std::vector<std::string> names;
  names.reserve(r->users.size());
  r->users.for_each([&names](const user& u) { names.emplace_back(u.name); });
  return names;
}

}  // namespace rk
