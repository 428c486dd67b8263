// The host-wide password file: one section of users per repository, headed
// by the repository's directory and ended by an empty line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "fixed_paths.h"
#include "repodb/database.h"
#include "repodb/file_formats.h"
#include "repodb/line_reader.h"
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

int read_section(line_reader& lines, int handle) {
  std::string_view line;
  while (lines.next(line)) {
    if (line == "\n") return 0;
    auto trimmed = trim_line(line);
    if (!trimmed || trimmed->front() == '#') continue;
    if (handle_pass_line(handle, *trimmed) < 0) {
      std::fprintf(stderr, "Invalid line %d in %s\n", lines.number(), fixed_paths::sys_passwd);
      return -1;
    }
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
// section is added at the end when the file has none.
int copy_replacing_section(line_reader& lines, text_writer& out, std::string_view section,
                           const user_list& users) {
  if (lines.failed()) return -1;
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
  return 0;
}

void report_move_failure() {
  std::fputs(move_failure.c_str(), stderr);
  std::perror(nullptr);
}

int copy_contents(const std::string& from, std::FILE* to) {
  int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::vector<char> block(1 << 16);
  ssize_t got = 0;
  while ((got = read(fd, block.data(), block.size())) > 0) {
    if (std::fwrite(block.data(), 1, static_cast<std::size_t>(got), to) !=
        static_cast<std::size_t>(got)) {
      break;
    }
  }
  int saved = errno;
  close(fd);
  errno = saved;
  return got == 0 ? 0 : -1;
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
  input_file in = open_input(file.path, "closing");
  if (!in) return -1;
  line_reader lines(in.get());
  if (lines.failed()) {
    std::perror(file.path.c_str());
    return -1;
  }
  std::string_view line;
  while (lines.next(line)) {
    if (is_header(line, *section)) return read_section(lines, repo_handle(&r));
  }
  return 0;
}

int sys_passwd_write(const hfile& file, write_batch& batch) {
  const repo& r = *file.owner;
  auto section = strip_method(r.root);
  if (!section) return -1;
  input_file in = open_input(file.path, "fclose");
  if (!in) return -1;
  const char* failed_call = nullptr;
  auto out = temp_file::create(fixed_paths::temp_dir, true, failed_call);
  if (!out) {
    std::perror(std::string_view(failed_call) == "fdopen" ? "fdopen (big trouble in hyperspace!)"
                                                          : failed_call);
    return -1;
  }
  line_reader lines(in.get());
  text_writer writer(out->stream());
  if (copy_replacing_section(lines, writer, *section, r.users) != 0) {
    std::perror(file.path.c_str());
    return -1;
  }
  writer.flush();
  const std::string target = rewrite_target(file.path);
  if (out->finish(status_or_new(target)) != 0) {
    std::perror("fclose");
    return -1;
  }
  return move_file(batch, std::move(*out), target);
}

int move_file(write_batch& batch, temp_file from, const std::string& to) {
  // The last step must be a rename within the file system of `to`, so the
  // new file goes beside it first: by a rename where it can, else by a copy.
  const char* failed_call = nullptr;
  auto beside = temp_file::create(directory_of(to), true, failed_call);
  if (!beside) {
    report_move_failure();
    return -1;
  }
  if (beside->take_over(from) != 0) {
    if (errno != EXDEV || copy_contents(from.path(), beside->stream()) != 0 ||
        beside->finish(status_or_new(to)) != 0) {
      report_move_failure();
      return -1;
    }
  }
  batch.add(std::move(*beside), to, move_failure);
  return 0;
}

}  // namespace rk
