// The files that hold users: the repository's passwd and users files and the
// host-wide password file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "repodb/hfile.h"
#include "repodb/user_list.h"

namespace rk {

struct repo;
class text_writer;
class write_batch;

// The line without the whitespace around it, or nothing for a blank line.
std::optional<std::string_view> trim_line(std::string_view line);

// Puts the fields of one trimmed "name:hash[:system user]" line in fields:
// false, when it has no ':'.
bool parse_pass_line(std::string_view line, user& fields);
// Stores the user of one trimmed "name:hash[:system user]" line: 0, or -1.
int handle_pass_line(int handle, std::string_view line);

// Writes u as "name:hash:system user", absent fields empty.
void put_pass_line(text_writer& out, const user& u);

int passwd_read(hfile& file);
int passwd_write(const hfile& file, write_batch& batch);
int users_read(hfile& file);
int users_write(const hfile& file, write_batch& batch);
// Whether the repository may use the host-wide file: a remote repository
// worked on through a checkout never does.
bool may_use_host_file(const repo& r);
int sys_passwd_read(hfile& file);
int sys_passwd_write(const hfile& file, write_batch& batch);

}  // namespace rk
