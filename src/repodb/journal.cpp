#include "repodb/journal.h"

namespace rk {

std::string journal_text(const std::vector<journal_entry>& entries) {
  std::string text;
  auto put = [&text](const std::string& path) {
    for (char c : path) text += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    text += '\n';
  };
  for (const journal_entry& entry : entries) {
    put(entry.target);
    put(entry.backup);
  }
  return text;
}

std::vector<journal_entry> journal_entries(std::string_view text) {
  std::vector<std::string> paths;
  std::string path;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      paths.push_back(std::move(path));
      path.clear();
    } else if (text[i] == '\\' && i + 1 < text.size()) {
      path += text[++i] == 'n' ? '\n' : text[i];
    } else {
      path += text[i];
    }
  }
  std::vector<journal_entry> entries;
  for (std::size_t i = 0; i + 1 < paths.size(); i += 2) {
    entries.push_back(journal_entry{std::move(paths[i]), std::move(paths[i + 1])});
  }
  return entries;
}

}  // namespace rk
