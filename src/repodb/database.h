// The repository user database: open repositories, their users in memory,
// and the files the users are read from and written back to.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rk {

// An optional text handed in: absent leaves a field alone, empty sets it empty.
using field_arg = std::optional<std::string_view>;

// A run that only reads neither waits for nor takes the lock that keeps
// changing runs apart.
enum class open_mode { reading, changing };

// Opens the repository at location: its handle (0-127), or -1. For a change
// it first locks the files, and refuses (reported) files whose change would
// not last.
int repo_open(const std::string& location, bool use_cvs, open_mode mode = open_mode::changing);
// Writes every registered file back if anything changed (and commits a
// checkout): 0, or -1 when the changes could not be saved.
int repo_sync(int handle);
// Syncs and releases the repository: 0, or -1 for a bad handle or when the
// changes could not be saved.
int repo_close(int handle);
void repo_close_all();

int _set_user_info(int handle, std::string_view name, field_arg hash, field_arg sys_user,
                   field_arg email);
int _get_user_info(int handle, std::string_view name, std::optional<std::string>* hash,
                   std::optional<std::string>* sys_user, std::optional<std::string>* email);
int _del_user(int handle, std::string_view name);
int _rename_user(int handle, std::string_view old_name, std::string_view new_name);
// The names in list order, or nothing for a bad handle or an empty repository.
std::optional<std::vector<std::string>> _list_users(int handle);
// Calls visit(name, system user, e-mail) for every user in list order, with
// views of the database's own texts, until visit returns false: the number
// of users visited, or -1 for a bad handle. Nothing is copied, so that a
// list of a million users costs no copy of them.
using user_visitor = bool (*)(std::string_view name, std::optional<std::string_view> sys_user,
                              std::optional<std::string_view> email, void* context);
long long _visit_users(int handle, user_visitor visit, void* context);

// The location without its method prefix (":method:"), or nothing when the
// prefix has no closing ':'.
std::optional<std::string_view> strip_method(std::string_view location);

}  // namespace rk
