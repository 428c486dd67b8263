// A file read through a read-only mapping: its pages are the system's file
// cache, so a huge or sparse file costs memory only as its content is seen.
// The file stays open with it, so that parts of it can be copied file to
// file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string_view>

namespace rk {

class mapped_file {
 public:
  // The whole of the open file fd (which the caller still closes); nothing,
  // errno set, when it cannot be mapped.
  static std::shared_ptr<const mapped_file> of(int fd);
  // Takes over the mapping (data may be null for an empty file) and fd.
  mapped_file(const void* data, std::size_t size, int fd) : data_(data), size_(size), fd_(fd) {}
  mapped_file(const mapped_file&) = delete;
  mapped_file& operator=(const mapped_file&) = delete;
  ~mapped_file();

  std::string_view text() const { return {static_cast<const char*>(data_), size_}; }
  bool holds(std::string_view part) const;
  int fd() const { return fd_; }
  // When the file goes, the system is told to drop its pages from the cache:
  // a file being replaced, whose old pages nobody reads again.
  void drop_cached_pages_at_end() const { drop_cached_pages_ = true; }
  // Where a part of text() is in the file.
  off_t offset_of(std::string_view part) const {
    return static_cast<off_t>(part.data() - static_cast<const char*>(data_));
  }

 private:
  const void* data_;
  std::size_t size_;
  int fd_;
  mutable bool drop_cached_pages_ = false;
};

}  // namespace rk
