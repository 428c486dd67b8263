// A file read through a read-only mapping: its pages are the system's file
// cache, so a huge or sparse file costs memory only as its content is seen.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace rk {

class mapped_file {
 public:
  // The whole of the open file fd (which the caller still closes); nothing,
  // errno set, when it cannot be mapped.
  static std::shared_ptr<const mapped_file> of(int fd);
  mapped_file(const void* data, std::size_t size) : data_(data), size_(size) {}
  mapped_file(const mapped_file&) = delete;
  mapped_file& operator=(const mapped_file&) = delete;
  ~mapped_file();

  std::string_view text() const { return {static_cast<const char*>(data_), size_}; }
  bool holds(std::string_view part) const;

 private:
  const void* data_;
  std::size_t size_;
};

}  // namespace rk
