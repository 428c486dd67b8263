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

// Runs of lines that stand in the file read as they are to be written, one
// after the other: each run goes out whole.
class unchanged_runs {
 public:
  explicit unchanged_runs(text_writer& out) : out_(out) {}

  void add(std::string_view line) {
    if (line.data() != run_.data() + run_.size()) {
      end();
      run_ = line;
    } else {
      run_ = std::string_view(run_.data(), run_.size() + line.size());
    }
  }
  void end() {
    if (!run_.empty()) out_.put(run_);
    run_ = {};
  }

 private:
  text_writer& out_;
  std::string_view run_;
};

using line_finder = std::optional<std::string_view> (user_list::*)(user_list::source_id,
                                                                   const user&) const;

// Writes a new version of file.path: each user's line as it was read where
// the file read holds it as such, or as write_user makes it.
template <typename UserWriter>
int write_records(const hfile& file, write_batch& batch, bool holds_passwords,
                  line_finder line_in, UserWriter write_user) {
  auto out = replacement::create(file.dir, file.name, holds_passwords, file.read_as);
  if (!out) return -1;
  text_writer& writer = out->out();
  const user_list& users = file.owner->users;
  unchanged_runs runs(writer);
  users.for_each([&](const user& u) {
    if (file.source) {
      if (auto line = (users.*line_in)(*file.source, u)) return runs.add(*line);
    }
    runs.end();
    write_user(writer, u);
  });
  runs.end();
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

bool parse_pass_line(std::string_view line, user& fields) {
  std::size_t first = colon_in(line, 0);
  if (first == line.size()) return false;
  std::size_t second = colon_in(line, first + 1);
  fields.name = line.substr(0, first);
  fields.hash = line.substr(first + 1, second - first - 1);
  fields.sys_user = second < line.size() ? field(line.substr(second + 1)) : std::nullopt;
  fields.email = std::nullopt;
  return true;
}

int handle_pass_line(int handle, std::string_view line) {
  user fields;
  if (!parse_pass_line(line, fields)) return -1;
  if (_set_user_info(handle, fields.name, fields.hash, fields.sys_user, std::nullopt) < 0) {
    std::fprintf(stderr, "INTERNAL ERROR: %s: _set_user_info problem\n", "handle_pass_line");
    return -1;
  }
  return 0;
}

void put_pass_line(text_writer& out, const user& u) {
  out.put_line({u.name, ":", u.hash.value_or(""), ":", u.sys_user.value_or("")});
}

namespace {

int read_kept(hfile& file, const char* what_file, record_parser parse, bool adding) {
  auto content = read_input(file);
  if (!content) return -1;
  file.read_as = content->status;
  file.source = file.owner->users.keep(std::move(content->text));
  if (!file.source) return -1;
  return read_records(file.owner->users, *file.source, what_file, parse, adding);
}

}  // namespace

int passwd_read(hfile& file) { return read_kept(file, "password file", parse_pass_line, true); }

int passwd_write(const hfile& file, write_batch& batch) {
  return write_records(file, batch, true, &user_list::pass_line_in, put_pass_line);
}

namespace {

bool parse_users_line(std::string_view line, user& fields) {
  auto colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  fields = user{line.substr(0, colon), std::nullopt, std::nullopt, line.substr(colon + 1)};
  return true;
}

}  // namespace

// The users file only adds addresses to users the password file has.
int users_read(hfile& file) { return read_kept(file, "users file", parse_users_line, false); }

int users_write(const hfile& file, write_batch& batch) {
  auto put_users_line = [](text_writer& out, const user& u) {
    if (u.email) out.put_line({u.name, ":", *u.email});
  };
  return write_records(file, batch, false, &user_list::email_line_in, put_users_line);
}

}  // namespace rk
