#include "repodb/user_list.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace rk {
namespace {

constexpr std::uint64_t empty_slot = 0;
constexpr std::uint64_t deleted_slot = ~std::uint64_t{0};
constexpr std::size_t arena_chunk = 1 << 20;

std::uint32_t hash_of(std::string_view name) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
}

std::uint32_t hash_in(std::uint64_t slot) { return static_cast<std::uint32_t>(slot >> 32); }

std::size_t position_of(std::uint64_t slot) { return (slot & 0xffffffffu) - 1; }

}  // namespace

void text_arena::keep(std::shared_ptr<const std::string> text) { kept_.push_back(std::move(text)); }

std::string_view text_arena::copy(std::string_view text) {
  if (text.empty()) return std::string_view("", 0);
  if (!kept_.empty()) {
    const std::string& last = *kept_.back();
    if (std::less_equal<>{}(last.data(), text.data()) &&
        std::less_equal<>{}(text.data() + text.size(), last.data() + last.size())) {
      return text;
    }
  }
  if (text.size() > capacity_ - used_) {
    std::size_t size = std::max(arena_chunk, text.size());
    chunks_.push_back(std::make_unique<char[]>(size));
    used_ = 0;
    capacity_ = size;
  }
  char* at = chunks_.back().get() + used_;
  std::memcpy(at, text.data(), text.size());
  used_ += text.size();
  return std::string_view(at, text.size());
}

user& user_store::push_back(const user& u) {
  if (size_ % chunk == 0) chunks_.push_back(std::make_unique<user[]>(chunk));
  user& added = (*this)[size_++];
  added = u;
  return added;
}

std::uint64_t* user_list::slot_of(std::string_view name, std::uint32_t hash) {
  if (slots_.empty()) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    std::uint64_t slot = slots_[i];
    if (slot == empty_slot) return nullptr;
    if (slot != deleted_slot && hash_in(slot) == hash &&
        users_[position_of(slot)].name == name) {
      return &slots_[i];
    }
  }
}

void user_list::insert_slot(std::uint32_t hash, std::size_t position) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i] != empty_slot && slots_[i] != deleted_slot) i = (i + 1) & mask;
  if (slots_[i] == empty_slot) ++used_slots_;
  slots_[i] = std::uint64_t{hash} << 32 | (position + 1);
}

// Keeps the table at most half full, deleted slots counted, so that a probe
// for a name that is not there ends after a few slots.
void user_list::grow_index() {
  if ((used_slots_ + 1) * 2 <= slots_.size()) return;
  std::size_t size = 16;
  while (size < (live_ + 1) * 3) size *= 2;
  std::vector<std::uint64_t> old(size, empty_slot);
  old.swap(slots_);
  used_slots_ = 0;
  for (std::uint64_t slot : old) {
    if (slot != empty_slot && slot != deleted_slot) {
      insert_slot(hash_in(slot), position_of(slot));
    }
  }
}

void user_list::prefetch(std::string_view name) const {
  if (!slots_.empty()) __builtin_prefetch(&slots_[hash_of(name) & (slots_.size() - 1)]);
}

user* user_list::find(std::string_view name) {
  std::uint64_t* slot = slot_of(name, hash_of(name));
  return slot ? &users_[position_of(*slot)] : nullptr;
}

user& user_list::find_or_append(std::string_view name, bool& created) {
  const std::uint32_t hash = hash_of(name);
  std::uint64_t* slot = slot_of(name, hash);
  created = slot == nullptr;
  if (slot) return users_[position_of(*slot)];
  grow_index();
  user& added = users_.push_back(user{texts_.copy(name), {}, {}, {}});
  insert_slot(hash, users_.size() - 1);
  ++live_;
  return added;
}

void user_list::set(std::optional<std::string_view>& field, std::string_view value) {
  field = texts_.copy(value);
}

bool user_list::erase(std::string_view name) {
  std::uint64_t* slot = slot_of(name, hash_of(name));
  if (!slot) return false;
  users_[position_of(*slot)] = user{};
  *slot = deleted_slot;
  --live_;
  return true;
}

void user_list::rename(user& u, std::string_view new_name) {
  std::uint64_t* slot = slot_of(u.name, hash_of(u.name));
  std::size_t position = position_of(*slot);
  *slot = deleted_slot;
  u.name = texts_.copy(new_name);
  grow_index();
  insert_slot(hash_of(u.name), position);
}

}  // namespace rk
