// The users of one repository: kept in the order they were read or added,
// found by name in constant time.
#pragma once

#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace rk {

struct user {
  std::string name;
  std::optional<std::string> hash;
  std::optional<std::string> sys_user;
  std::optional<std::string> email;
};

class user_list {
 public:
  using iterator = std::list<user>::iterator;
  using const_iterator = std::list<user>::const_iterator;

  user* find(std::string_view name);
  user& append(std::string_view name);
  bool erase(std::string_view name);
  void rename(user& u, std::string_view new_name);
  void clear();

  std::size_t size() const { return users_.size(); }
  const_iterator begin() const { return users_.begin(); }
  const_iterator end() const { return users_.end(); }

 private:
  std::list<user> users_;
  // Keys view the names inside the list's nodes, which never move.
  std::unordered_map<std::string_view, iterator> by_name_;
};

}  // namespace rk
