// The host-wide password file: one section of users per repository, headed
// by the repository's directory and ended by an empty line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "cvs/fixed_paths.h"
#include "repodb/database.h"
#include "repodb/file_formats.h"
#include "repodb/line_reader.h"
#include "repodb/readable_text.h"
#include "repodb/replacement.h"
#include "repodb/repo.h"
#include "repodb/text_writer.h"

namespace rk {
namespace {

const std::string move_failure = std::string("Error renaming our temp file to") +
                                 fixed_paths::sys_passwd +
                                 "\nso changes will _not_ be saved (we'll remove the temp "
                                 "file\nof course. Error was: ";

bool is_header(std::string_view line, std::string_view section) {
  auto trimmed = trim_line(line);
  return trimmed && trimmed->front() != '#' && *trimmed == section;
}

int read_section(line_reader& lines, user_list& users, user_list::source_id source) {
  std::string_view line;
  user fields;
  while (lines.next(line)) {
    if (line == "\n") return 0;
    auto trimmed = trim_line(line);
    if (!trimmed || trimmed->front() == '#') continue;
    if (!parse_pass_line(*trimmed, fields)) {
      std::fprintf(stderr, "Invalid line %llu in %s\n", lines.number(), fixed_paths::sys_passwd);
      return -1;
    }
    users.load(source, fields, true);
  }
  return 0;
}

void put_section(text_writer& out, std::string_view section, const user_list& users) {
  out.put(section);
  out.put("\n");
  users.for_each([&out](const user& u) { put_pass_line(out, u); });
  out.put("\n");
}

// Copies a line that is not this repository's. A line of only blanks stays
// as it is: trimmed to an empty line it would end the section it stands in.
void copy_line(text_writer& out, std::string_view line) {
  auto trimmed = trim_line(line);
  std::string_view text = trimmed ? *trimmed : line;
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  out.put(text);
  out.put("\n");
}

// Copies in to out with this repository's section replaced by its users; the
// section is added at the end when the file has none: false then.
bool copy_replacing_section(line_reader& lines, text_writer& out, std::string_view section,
                            const user_list& users) {
  bool replaced = false;
  bool after_empty_line = true;
  std::string_view line;
  while (lines.next(line)) {
    if (!replaced && is_header(line, section)) {
      put_section(out, section, users);
      replaced = true;
      after_empty_line = true;
      while (lines.next(line) && line != "\n") {
      }
      continue;
    }
    copy_line(out, line);
    after_empty_line = line == "\n";
  }
  if (!replaced) {
    // Without an empty line before it, the header would be read as a user of
    // the section above.
    if (!after_empty_line) out.put("\n");
    put_section(out, section, users);
  }
  return replaced;
}

}  // namespace

bool may_use_host_file(const repo& r) {
  return !r.use_cvs || r.root.starts_with('/') || r.root.starts_with(":local:");
}

int sys_passwd_read(hfile& file) {
  const repo& r = *file.owner;
  if (!may_use_host_file(r)) return -1;
  auto section = strip_method(r.root);
  if (!section) return -1;
  auto content = read_input(file);
  if (!content) return -1;
  user_list& users = file.owner->users;
  auto source = users.keep(std::move(content->text));
  if (!source) return -1;
  line_reader lines(users.text_of(*source));
  std::string_view line;
  while (lines.next(line)) {
    if (is_header(line, *section)) return read_section(lines, users, *source);
  }
  file.owner->host_section_missing = true;
  return 0;
}

int sys_passwd_write(const hfile& file, write_batch& batch) {
  const repo& r = *file.owner;
  auto section = strip_method(r.root);
  if (!section) return -1;
  // The other sections as they are now: the file is read again.
  auto content = read_input(file);
  if (!content) return -1;
  line_reader lines(content->text);
  // The new version is written beside the host file from the start: it is
  // never reopened by name from a shared directory, and putting it in place
  // is a rename within the host file's own file system.
  auto out = replacement::create(file.dir, file.name, true, std::nullopt);
  if (!out) return -1;
  if (!copy_replacing_section(lines, out->out(), *section, r.users)) {
    std::fprintf(stderr, "%s: a section for %s is added\n", printable(file.path).c_str(),
                 printable(*section).c_str());
  }
  return stage(batch, std::move(*out), move_failure);
}

}  // namespace rk
