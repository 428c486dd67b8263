#include "repodb/readable_text.h"

#include <algorithm>
#include <cstdio>

namespace rk {
namespace {

bool is_control(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

bool ends_with_space(std::string_view text) { return !text.empty() && text.back() == ' '; }

}  // namespace

bool has_control(std::string_view text) {
  for (char c : text) {
    if (is_control(c)) return true;
  }
  return false;
}

std::optional<std::string_view> name_defect(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name.find(':') != std::string_view::npos) return "contains ':'";
  if (has_control(name)) return "contains a control character";
  if (name.front() == '#') return "begins with '#'";
  if (name.front() == ' ' || ends_with_space(name)) return "begins or ends with whitespace";
  return std::nullopt;
}

std::optional<std::string_view> hash_defect(std::string_view hash) {
  if (hash.find(':') != std::string_view::npos) return "contains ':'";
  if (has_control(hash)) return "contains a control character";
  return std::nullopt;
}

std::optional<std::string_view> answer_defect(std::string_view answer) {
  if (has_control(answer)) return "contains a control character";
  if (ends_with_space(answer)) return "ends with whitespace";
  return std::nullopt;
}

void append_printable(std::string& out, std::string_view text) {
  if (!has_control(text)) {
    out.append(text);
    return;
  }
  out.append(printable(text));
}

std::string printable(std::string_view text) {
  std::string shown;
  for (char c : text) {
    if (is_control(c)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace rk
