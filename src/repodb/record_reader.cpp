#include "repodb/record_reader.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>

#include "repodb/file_formats.h"
#include "repodb/line_reader.h"

namespace rk {
namespace {

// Below this a second thread costs more than it saves.
constexpr std::size_t parallel_from = 4 << 20;

// Hands the record of a line to loader, parsed in the place it keeps for
// it (a million records copied on their way cost as much as parsing them):
// false when the line is not a record. A blank line or a comment has none.
bool load_line(std::string_view line, record_parser parse, user_loader& loader) {
  auto trimmed = trim_line(line);
  if (!trimmed || trimmed->front() == '#') return true;
  if (!parse(*trimmed, loader.next())) return false;
  // Trimming took nothing from the line but the newline that ends it.
  loader.push(trimmed->size() + 1 == line.size() && line.back() == '\n');
  return true;
}

int report_invalid(unsigned long long line, const char* what_file) {
  std::fprintf(stderr, "Invalid line %llu in %s\n", line, what_file);
  return -1;
}

// Batches of lines passed from the thread that finds them to the one that
// parses and stores them, through a ring. (Finding the lines is the half of
// the work that touches each page of the text first.) A side that finds the
// ring full or empty waits by yielding, not sleeping: the other is at work on
// another processor and about to hand it a batch, and being woken would take
// longer.
class line_ring {
 public:
  static constexpr std::size_t batch_size = 2048;
  struct batch {
    std::string_view lines[batch_size];
    std::size_t count = 0;
    bool last = false;
  };

  // Nothing once the storing side has stopped.
  batch* to_fill() {
    while (filled_.load(std::memory_order_relaxed) - emptied_.load(std::memory_order_acquire) ==
           ring_size) {
      if (stopped_.load(std::memory_order_relaxed)) return nullptr;
      std::this_thread::yield();
    }
    return &batches_[filled_.load(std::memory_order_relaxed) % ring_size];
  }
  void filled() { filled_.fetch_add(1, std::memory_order_release); }
  const batch& to_empty() {
    while (filled_.load(std::memory_order_acquire) == emptied_.load(std::memory_order_relaxed)) {
      std::this_thread::yield();
    }
    return batches_[emptied_.load(std::memory_order_relaxed) % ring_size];
  }
  void emptied() { emptied_.fetch_add(1, std::memory_order_release); }
  void stop() { stopped_.store(true, std::memory_order_relaxed); }

 private:
  static constexpr std::size_t ring_size = 16;
  // Apart, so that each side's count stays in its own processor's cache.
  alignas(64) std::atomic<std::size_t> filled_{0};
  alignas(64) std::atomic<std::size_t> emptied_{0};
  std::atomic<bool> stopped_{false};
  batch batches_[ring_size];
};

void find_lines(std::string_view text, line_ring& ring) {
  line_reader lines(text);
  for (;;) {
    line_ring::batch* b = ring.to_fill();
    if (!b) return;
    b->count = 0;
    while (b->count < line_ring::batch_size && lines.next(b->lines[b->count])) ++b->count;
    b->last = b->count < line_ring::batch_size;
    ring.filled();
    if (b->last) return;
  }
}

int read_alongside(std::string_view text, const char* what_file, record_parser parse,
                   user_loader& loader) {
  auto ring = std::make_unique<line_ring>();
  std::thread finder(find_lines, text, std::ref(*ring));
  unsigned long long number = 0;
  unsigned long long invalid_line = 0;
  for (bool last = false; !last && !invalid_line;) {
    const line_ring::batch& b = ring->to_empty();
    for (std::size_t i = 0; i < b.count && !invalid_line; ++i) {
      ++number;
      if (!load_line(b.lines[i], parse, loader)) invalid_line = number;
    }
    last = b.last;
    ring->emptied();
  }
  ring->stop();
  finder.join();
  return invalid_line ? report_invalid(invalid_line, what_file) : 0;
}

}  // namespace

int read_records(std::string_view text, const char* what_file, record_parser parse,
                 user_loader& loader) {
  if (text.size() >= parallel_from) {
    try {
      return read_alongside(text, what_file, parse, loader);
    } catch (const std::system_error&) {
      // No second thread to be had: one does it all.
    }
  }
  line_reader lines(text);
  std::string_view line;
  while (lines.next(line)) {
    if (!load_line(line, parse, loader)) return report_invalid(lines.number(), what_file);
  }
  return 0;
}

}  // namespace rk
