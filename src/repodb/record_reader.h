// Reading the user records of a passwd-like text into the user list.
#pragma once

#include <optional>
#include <string_view>

#include "repodb/user_list.h"

namespace rk {

// Puts the fields of a line that is neither blank nor a comment, trimmed of
// its surrounding whitespace, in fields (all four of them): false when the
// line is not a record.
using record_parser = bool (*)(std::string_view line, user& fields);

// Hands the records of text to loader in order. The first line that is not
// a record ends the reading: "Invalid line N in what_file" and -1.
// In a large text a second thread finds the lines, touching each page of
// it first, while this one parses and stores them.
int read_records(std::string_view text, const char* what_file, record_parser parse,
                 user_loader& loader);

}  // namespace rk
