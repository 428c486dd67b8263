// The text of a write-back's journal: for each file being replaced, its
// path and its backup's, a line each, '\\' and line breaks escaped. The
// write-back writes it before its first rename; the next run reads it back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rk {

struct journal_entry {
  std::string target;
  std::string backup;
  bool operator==(const journal_entry&) const = default;
};

std::string journal_text(const std::vector<journal_entry>& entries);
// The entries of a text made by journal_text; a last line cut short, or a
// path without its backup, is dropped.
std::vector<journal_entry> journal_entries(std::string_view text);

}  // namespace rk
