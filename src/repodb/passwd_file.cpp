// The repository's own passwd and users files, and the parts of the format
// that the host-wide file shares.
#include <cstdio>
#include <string>

#include "repodb/database.h"
#include "repodb/file_formats.h"
#include "repodb/line_reader.h"
#include "repodb/record_reader.h"
#include "repodb/replacement.h"
#include "repodb/repo.h"
#include "repodb/text_writer.h"

namespace rk {
namespace {

// The C locale's whitespace; a byte with the high bit set never is.
bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
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

namespace {

// The colon at or after from, or the end: lines are short, and a plain loop
// beats a call per field.
std::size_t colon_in(std::string_view line, std::size_t from) {
  while (from < line.size() && line[from] != ':') ++from;
  return from;
}

}  // namespace

std::optional<user> parse_pass_line(std::string_view line) {
  std::size_t first = colon_in(line, 0);
  if (first == line.size()) return std::nullopt;
  std::size_t second = colon_in(line, first + 1);
  user fields{line.substr(0, first), line.substr(first + 1, second - first - 1), std::nullopt,
              std::nullopt};
  if (second < line.size()) fields.sys_user = line.substr(second + 1);
  return fields;
}

int handle_pass_line(int handle, std::string_view line) {
  auto fields = parse_pass_line(line);
  if (!fields) return -1;
  if (_set_user_info(handle, fields->name, fields->hash, fields->sys_user, std::nullopt) < 0) {
    std::fprintf(stderr, "INTERNAL ERROR: %s: _set_user_info problem\n", "handle_pass_line");
    return -1;
  }
  return 0;
}

void put_pass_line(text_writer& out, const user& u) {
  out.put_line({u.name, ":", u.hash.value_or(""), ":", u.sys_user.value_or("")});
}

int passwd_read(hfile& file) {
  auto content = read_input(file);
  if (!content) return -1;
  std::string_view text = content->text();
  user_loader loader(file.owner->users, content, estimate_lines(text), true);
  return read_records(text, "password file", parse_pass_line, loader);
}

int passwd_write(const hfile& file, write_batch& batch) {
  return write_records(file, batch, true, put_pass_line);
}

namespace {

std::optional<user> parse_users_line(std::string_view line) {
  auto colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  return user{line.substr(0, colon), std::nullopt, std::nullopt, line.substr(colon + 1)};
}

}  // namespace

int users_read(hfile& file) {
  auto content = read_input(file);
  if (!content) return -1;
  // The users file only adds addresses to users the password file has.
  user_loader loader(file.owner->users, content, 0, false);
  return read_records(content->text(), "users file", parse_users_line, loader);
}

int users_write(const hfile& file, write_batch& batch) {
  return write_records(file, batch, false, [](text_writer& out, const user& u) {
    if (u.email) out.put_line({u.name, ":", *u.email});
  });
}

}  // namespace rk
