// Memory for the user list's tables. The first touch of each page costs a
// trap to the kernel, and under a hypervisor that shadows the page tables
// another to the host: for a million users that is thousands of traps, and
// as much time as the work itself. So a large table comes in huge pages
// where the system has them, put in place in one call.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace rk {

// A zero-filled block of at least bytes; std::bad_alloc when there is none.
void* map_large(std::size_t bytes);
// Gives back a block of map_large(bytes).
void unmap_large(void* block, std::size_t bytes);

template <typename T>
struct large_allocator {
  using value_type = T;
  large_allocator() = default;
  template <typename U>
  large_allocator(const large_allocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(map_large(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) { unmap_large(p, n * sizeof(T)); }

  template <typename U>
  bool operator==(const large_allocator<U>&) const { return true; }
};

// A fixed number of slots, all zero bytes to begin with, which for T must
// be a value.
template <typename T>
class large_table {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  large_table() = default;
  explicit large_table(std::size_t size) : slots_(static_cast<T*>(map_large(size * sizeof(T)))), size_(size) {}
  large_table(large_table&& other) noexcept
      : slots_(std::exchange(other.slots_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  large_table& operator=(large_table other) noexcept {
    std::swap(slots_, other.slots_);
    std::swap(size_, other.size_);
    return *this;
  }
  ~large_table() {
    if (slots_) unmap_large(slots_, size_ * sizeof(T));
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](std::size_t i) { return slots_[i]; }
  const T& operator[](std::size_t i) const { return slots_[i]; }
  const T* begin() const { return slots_; }
  const T* end() const { return slots_ + size_; }

 private:
  T* slots_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace rk
