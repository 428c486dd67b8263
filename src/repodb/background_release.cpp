#include "repodb/background_release.h"

#include <system_error>
#include <utility>

#include "cvs/signal_cleanup.h"

namespace rk {
namespace {

void release(user_list users, std::vector<std::shared_ptr<const mapped_file>> files) {
  for (const auto& file : files) file->drop_cached_pages_at_end();
  users = user_list();
  files.clear();
}

}  // namespace

background_release::background_release(user_list users,
                                       std::vector<std::shared_ptr<const mapped_file>> files) {
  // The thread starts with the signals held, so that one sent during the
  // write-back waits for the thread that holds them.
  signals_held held;
  try {
    thread_ = std::thread(release, std::move(users), std::move(files));
  } catch (const std::system_error&) {
    // No second thread to be had: what the thread was handed has gone
    // with its arguments, here.
  }
}

background_release::~background_release() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace rk
