#include "cvs/random_bytes.h"

#include <cerrno>

// Whichever call the platform has, from the header that declares it there:
// getrandom(2) on Linux and FreeBSD, arc4random_buf(3) on the other BSDs
// and macOS.
#if defined(RK_HAVE_GETRANDOM)
#include <sys/random.h>
#elif defined(RK_HAVE_ARC4RANDOM_BUF)
#include <stdlib.h>
#else
#error "no getrandom or arc4random_buf on this platform"
#endif

namespace rk {

int random_bytes(unsigned char* bytes, std::size_t count) {
#if defined(RK_HAVE_GETRANDOM)
  std::size_t done = 0;
  while (done < count) {
    ssize_t got = getrandom(bytes + done, count - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return -1;
    done += static_cast<std::size_t>(got);
  }
  return 0;
#else
  arc4random_buf(bytes, count);
  return 0;
#endif
}

}  // namespace rk
