#include "repodb/user_list.h"

namespace rk {

user* user_list::find(std::string_view name) {
  auto found = by_name_.find(name);
  return found == by_name_.end() ? nullptr : &*found->second;
}

user& user_list::append(std::string_view name) {
  auto added = users_.insert(users_.end(), user{std::string(name), {}, {}, {}});
  by_name_.emplace(added->name, added);
  return *added;
}

bool user_list::erase(std::string_view name) {
  auto found = by_name_.find(name);
  if (found == by_name_.end()) return false;
  auto node = found->second;
  by_name_.erase(found);
  users_.erase(node);
  return true;
}

void user_list::rename(user& u, std::string_view new_name) {
  auto found = by_name_.find(u.name);
  auto node = found->second;
  by_name_.erase(found);
  u.name = new_name;
  by_name_.emplace(u.name, node);
}

void user_list::clear() {
  by_name_.clear();
  users_.clear();
}

}  // namespace rk
