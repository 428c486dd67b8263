// Reading the user records of a passwd-like text into the user list.
#pragma once

#include <string_view>

#include "repodb/user_list.h"

namespace rk {

// Puts the fields of a line that is neither blank nor a comment, trimmed of
// its surrounding whitespace, in fields (all four of them): false when the
// line is not a record.
using record_parser = bool (*)(std::string_view line, user& fields);

// Loads the records of the text the list keeps as source, in order (see
// user_list::load for adding). The first line that is not a record ends the
// reading: "Invalid line N in what_file" and -1.
int read_records(user_list& users, user_list::source_id source, const char* what_file,
                 record_parser parse, bool adding);

}  // namespace rk
