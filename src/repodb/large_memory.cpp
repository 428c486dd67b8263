#include "repodb/large_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>

namespace rk {
namespace {

// Below this a block is an ordinary allocation: its pages are few.
constexpr std::size_t mapped_from = 1 << 20;
constexpr std::size_t huge_page = 2 << 20;
constexpr std::size_t shared_from = 8 << 20;

std::size_t mapped_size(std::size_t bytes) { return (bytes + huge_page - 1) & ~(huge_page - 1); }

// Puts the pages of a block in place ahead of use, in one call where the
// system has one. Making pages is mostly zeroing them, which two processors
// do in half the time.
void populate(char* block, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  if (size >= shared_from) {
    std::size_t half = size / 2 / huge_page * huge_page;
    try {
      std::thread other([=] { madvise(block + half, size - half, MADV_POPULATE_WRITE); });
      madvise(block, half, MADV_POPULATE_WRITE);
      other.join();
      return;
    } catch (const std::system_error&) {
      // No second thread to be had.
    }
  }
  madvise(block, size, MADV_POPULATE_WRITE);
#else
  static_cast<void>(block);
  static_cast<void>(size);
#endif
}

}  // namespace

void* map_large(std::size_t bytes) {
  if (bytes < mapped_from) {
    void* block = ::operator new(bytes);
    std::memset(block, 0, bytes);
    return block;
  }
  // Mapped a huge page too long, then trimmed to a huge page's alignment,
  // which the system needs to back it with huge pages.
  std::size_t size = mapped_size(bytes);
  void* mapped = mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  auto start = reinterpret_cast<std::uintptr_t>(mapped);
  std::uintptr_t aligned = (start + huge_page - 1) & ~(huge_page - 1);
  if (aligned != start) munmap(mapped, aligned - start);
  if (std::uintptr_t end = start + size + huge_page; end != aligned + size) {
    munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
  }
  void* block = reinterpret_cast<void*>(aligned);
  // Advice: without it the pages are small, and without populate() they
  // come one by one as they are touched.
#ifdef MADV_HUGEPAGE
  madvise(block, size, MADV_HUGEPAGE);
#endif
  populate(static_cast<char*>(block), size);
  return block;
}

void unmap_large(void* block, std::size_t bytes) {
  if (bytes < mapped_from) {
    ::operator delete(block);
    return;
  }
  munmap(block, mapped_size(bytes));
}

}  // namespace rk
