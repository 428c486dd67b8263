// Working through a checkout: the temporary work directory, running the CVS
// program, and removing the directory again.
#pragma once

#include <optional>
#include <string>

namespace rk {

// Longest path the tool builds or accepts.
inline constexpr std::size_t max_path_length = 1023;

// A fresh directory "<temp dir>/.rk_tmpXXXXXX" with mode 0700, or nothing.
// It records the run it belongs to, for remove_stopped_checkouts.
std::optional<std::string> make_temp_dir();

// Removes the checkouts of this user's runs that a signal ended: the signal
// handler removes only their files that hold users.
void remove_stopped_checkouts();

// Changes into dir (for good) and runs the CVS program there.
int run_cvs_in(const std::string& dir, const std::string& location, const char* command,
               const char* argument);

// Runs "cvs -d location command argument"; 0 for success, -1 when the program
// was killed by a signal, ended with status 1, or could not be waited for.
int run_cvs(const std::string& location, const char* command, const char* argument);

// Removes path and everything below it, never following a symbolic link.
int remove_tree(const std::string& path);

}  // namespace rk
