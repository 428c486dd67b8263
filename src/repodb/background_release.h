// Letting go of what a repository read on a second thread, while the
// write-back waits for the disk: the system takes about as long to forget
// the pages of a million users' files as the disk takes to sync the new ones.
#pragma once

#include <memory>
#include <thread>
#include <vector>

#include "repodb/mapped_file.h"
#include "repodb/user_list.h"

namespace rk {

class background_release {
 public:
  // Takes the users and the files they were read from, whose cached pages
  // go with them: the files are being replaced.
  background_release(user_list users, std::vector<std::shared_ptr<const mapped_file>> files);
  // Waits for all of it to be gone.
  ~background_release();
  background_release(const background_release&) = delete;
  background_release& operator=(const background_release&) = delete;

 private:
  std::thread thread_;
};

}  // namespace rk
