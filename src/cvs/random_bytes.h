// Unpredictable bytes from the system, for salts and temporary names.
#pragma once

#include <cstddef>

namespace rk {

// Fills bytes with count random bytes: 0, or -1 (errno set) when the system
// gives none.
int random_bytes(unsigned char* bytes, std::size_t count);

}  // namespace rk
