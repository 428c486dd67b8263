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

// Runs of lines that were read as they are to be written, one after the
// other in the file read: each run goes out whole, copied from that file.
class unchanged_runs {
 public:
  unchanged_runs(text_writer& out, const mapped_file* source) : out_(out), source_(source) {}

  void add(std::string_view line) {
    if (line.data() != run_.data() + run_.size()) {
      end();
      run_ = line;
    } else {
      run_ = std::string_view(run_.data(), run_.size() + line.size());
    }
  }
  void end() {
    if (!run_.empty()) out_.copy(*source_, run_);
    run_ = {};
  }

 private:
  text_writer& out_;
  const mapped_file* source_;
  std::string_view run_;
};

// Writes a new version of file.path: each user's line as it was read, if
// it carries the mark that says so and the file read still holds it, or,
// for a user without one, as write_user makes it.
template <typename UserWriter>
int write_records(const hfile& file, write_batch& batch, bool holds_passwords, unsigned mark,
                  UserWriter write_user) {
  auto out = replacement::create(file.dir, file.name, holds_passwords);
  if (!out) return -1;
  text_writer& writer = out->out();
  const mapped_file* source = file.content.get();
  unchanged_runs runs(writer, source);
  file.owner->users.for_each_entry([&](const user_list::entry& e) {
    if (auto line = e.line_in(source, mark)) return runs.add(*line);
    runs.end();
    write_user(writer, e.fields());
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

int passwd_read(hfile& file) {
  auto content = read_input(file);
  if (!content) return -1;
  file.content = content;
  std::string_view text = content->text();
  user_loader loader(file.owner->users, content, estimate_lines(text), true, pass_line_as_read);
  return read_records(text, "password file", parse_pass_line, loader);
}

int passwd_write(const hfile& file, write_batch& batch) {
  return write_records(file, batch, true, pass_line_as_read, put_pass_line);
}

namespace {

bool parse_users_line(std::string_view line, user& fields) {
  auto colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  fields = user{line.substr(0, colon), std::nullopt, std::nullopt, line.substr(colon + 1)};
  return true;
}

}  // namespace

int users_read(hfile& file) {
  auto content = read_input(file);
  if (!content) return -1;
  file.content = content;
  // The users file only adds addresses to users the password file has.
  user_loader loader(file.owner->users, content, 0, false, users_line_as_read);
  return read_records(content->text(), "users file", parse_users_line, loader);
}

int users_write(const hfile& file, write_batch& batch) {
  auto put_users_line = [](text_writer& out, const user& u) {
    if (u.email) out.put_line({u.name, ":", *u.email});
  };
  return write_records(file, batch, false, users_line_as_read, put_users_line);
}

}  // namespace rk
