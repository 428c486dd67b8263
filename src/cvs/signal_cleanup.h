// A run ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT changes nothing: the
// signal handler removes the temporary files it made and the checkout's
// files that hold users, then lets the signal end the process. It only
// unlinks: the rest of a checkout is removed by the next run with -c.
#pragma once

#include <signal.h>

#include <string>

namespace rk {

void install_signal_cleanup();

// A temporary file name in the directory dir_fd, removed if a signal ends
// the run: its slot (for forget_temp_file), or -1 when there is no room.
int remember_temp_file(int dir_fd, const std::string& name);
void forget_temp_file(int slot);

// The checkout directory, whose files with users go if a signal ends the run.
void remember_work_dir(const std::string& path);
void forget_work_dir();

// Removes at once what the handler would (for a run that must end now).
void remove_temp_files_now();

// While held, the signals wait: the new files are put in place whole.
class signals_held {
 public:
  signals_held();
  ~signals_held();
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;

 private:
  sigset_t before_;
};

}  // namespace rk
