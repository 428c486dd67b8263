// The repository's own passwd and users files, and the parts of the format
// that the host-wide file shares.
#include <cstdio>
#include <string>

#include "repodb/database.h"
#include "repodb/file_formats.h"
#include "repodb/line_reader.h"
#include "repodb/replacement.h"
#include "repodb/repo.h"
#include "repodb/text_writer.h"

namespace rk {
namespace {

// The C locale's whitespace; a byte with the high bit set never is.
bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_skipped(std::optional<std::string_view> trimmed) {
  return !trimmed || trimmed->front() == '#';
}


// The name in a line of either file, as far as a guess needs it.
std::string_view name_in(std::string_view line) {
  auto trimmed = trim_line(line);
  return trimmed ? trimmed->substr(0, trimmed->find(':')) : std::string_view();
}

// Reads path line by line, handing each line that is not blank or a comment
// to handle_line; what_file names the file in "Invalid line" reports.
template <typename LineHandler>
int read_records(const hfile& file, const char* what_file, LineHandler handle_line) {
  input_file in = open_input(file, "fclose");
  if (!in) return -1;
  line_reader lines(in.get());
  if (lines.failed()) {
    std::perror(file.path.c_str());
    return -1;
  }
  // The users' texts stay where they were read, not copied line by line.
  file.owner->users.keep_text(lines.content());
  std::string_view line;
  while (lines.next(line)) {
    file.owner->users.prefetch(name_in(lines.ahead()));
    auto trimmed = trim_line(line);
    if (is_skipped(trimmed)) continue;
    if (handle_line(*trimmed) < 0) {
      std::fprintf(stderr, "Invalid line %llu in %s\n", lines.number(), what_file);
      return -1;
    }
  }
  return 0;
}

// Writes a new version of file.path, one write_user call per user.
template <typename UserWriter>
int write_records(const hfile& file, write_batch& batch, bool holds_passwords,
                  UserWriter write_user) {
  auto out = replacement::create(file.dir, file.name, holds_passwords);
  if (!out) return -1;
  text_writer& writer = out->out();
  file.owner->users.for_each([&writer, &write_user](const user& u) { write_user(writer, u); });
  return stage(batch, std::move(*out));
}

}  // namespace

std::optional<std::string_view> trim_line(std::string_view line) {
  auto first = line.begin();
  auto last = line.end();
  while (last != first && is_c_space(*(last - 1))) --last;
  if (first == last) return std::nullopt;
  while (is_c_space(*first)) ++first;
  return std::string_view(first, last);
}

int handle_pass_line(int handle, std::string_view line) {
  auto first_colon = line.find(':');
  if (first_colon == std::string_view::npos) return -1;
  std::string_view name = line.substr(0, first_colon);
  std::string_view rest = line.substr(first_colon + 1);
  field_arg sys_user;
  auto second_colon = rest.find(':');
  if (second_colon != std::string_view::npos) {
    sys_user = rest.substr(second_colon + 1);
    rest = rest.substr(0, second_colon);
  }
  if (_set_user_info(handle, name, rest, sys_user, std::nullopt) < 0) {
    std::fprintf(stderr, "INTERNAL ERROR: %s: _set_user_info problem\n", "handle_pass_line");
    return -1;
  }
  return 0;
}

void put_pass_line(text_writer& out, const user& u) {
  out.put(u.name);
  out.put(":");
  out.put(u.hash.value_or(""));
  out.put(":");
  out.put(u.sys_user.value_or(""));
  out.put("\n");
}

int passwd_read(hfile& file) {
  int handle = repo_handle(file.owner);
  return read_records(file, "password file",
                      [handle](std::string_view line) { return handle_pass_line(handle, line); });
}

int passwd_write(const hfile& file, write_batch& batch) {
  return write_records(file, batch, true, put_pass_line);
}

int users_read(hfile& file) {
  repo& owner = *file.owner;
  return read_records(file, "users file", [&owner](std::string_view line) {
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return -1;
    // The users file only adds addresses to users the password file has.
    if (user* u = owner.users.find(line.substr(0, colon))) {
      owner.users.set(u->email, line.substr(colon + 1));
      owner.modified = true;
    }
    return 0;
  });
}

int users_write(const hfile& file, write_batch& batch) {
  return write_records(file, batch, false, [](text_writer& out, const user& u) {
    if (!u.email) return;
    out.put(u.name);
    out.put(":");
    out.put(*u.email);
    out.put("\n");
  });
}

}  // namespace rk
