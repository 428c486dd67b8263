#include "repodb/user_list.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <new>

namespace rk {
namespace {

constexpr std::uint32_t empty_slot = 0;
constexpr std::uint32_t deleted_slot = 0xffffffff;

// Places are 32-bit: a text past that is more than the list can hold, which
// ends the run as any other want of memory does.
[[noreturn]] void too_large() {
  if (std::new_handler handler = std::get_new_handler()) handler();
  throw std::bad_alloc();
}

}  // namespace

std::uint32_t user_list::hash_of(std::string_view name) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
}

std::optional<user_list::source_id> user_list::keep(std::string text) {
  if (sources_.size() >= deleted) return std::nullopt;
  if (text.size() >= absent) too_large();
  sources_.push_back(std::move(text));
  return static_cast<source_id>(sources_.size() - 1);
}

bool user_list::holds_in(source_id source, std::string_view text) const {
  std::string_view all = sources_[source];
  return std::less_equal<>{}(all.data(), text.data()) &&
         std::less_equal<>{}(text.data() + text.size(), all.data() + all.size());
}

void user_list::put(record& r, field_index i, source_id source, field text) {
  if (!text) {
    r.fields[i] = place{};
    r.sources[i] = copies;
    return;
  }
  if (source == copies || !holds_in(source, *text)) {
    std::string& arena = sources_[copies];
    if (text->size() >= absent - arena.size()) too_large();
    // The text may lie in the arena itself, which grows under it.
    std::string copy(*text);
    auto offset = static_cast<std::uint32_t>(arena.size());
    arena += copy;
    r.fields[i] = place{offset, static_cast<std::uint32_t>(copy.size())};
    r.sources[i] = copies;
    return;
  }
  r.fields[i] = place{static_cast<std::uint32_t>(text->data() - sources_[source].data()),
                      static_cast<std::uint32_t>(text->size())};
  r.sources[i] = source;
}

user user_list::view_of(const record& r) const {
  return user{text_at(r, name_at), field_at(r, hash_at), field_at(r, sys_user_at),
              field_at(r, email_at)};
}

std::size_t user_list::slot_of(std::string_view name, std::uint32_t hash) const {
  if (slots_.empty()) return 0;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const slot& s = slots_[i];
    if (s.position == empty_slot) return slots_.size();
    if (s.position != deleted_slot && s.hash == hash &&
        text_at(records_[s.position - 1], name_at) == name) {
      return i;
    }
  }
}

void user_list::insert_slot(std::uint32_t hash, std::uint32_t position) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].position != empty_slot && slots_[i].position != deleted_slot) {
    i = (i + 1) & mask;
  }
  if (slots_[i].position == empty_slot) ++used_slots_;
  slots_[i] = slot{position + 1, hash};
}

// Room for more: once the table would be over half full it is rebuilt,
// without its deleted slots, at least twice the size of the live users.
void user_list::make_room(std::size_t more) {
  if ((used_slots_ + more) * 2 <= slots_.size()) return;
  std::size_t size = 16;
  while (size < (live_ + more) * 2) size *= 2;
  std::vector<slot> old(size, slot{empty_slot, 0});
  old.swap(slots_);
  used_slots_ = 0;
  for (const slot& s : old) {
    if (s.position != empty_slot && s.position != deleted_slot) {
      insert_slot(s.hash, s.position - 1);
    }
  }
}

void user_list::expect(std::size_t more) { make_room(more); }

std::uint32_t user_list::append(const record& r, std::uint32_t hash) {
  if (records_.size() >= deleted_slot - 1) too_large();
  make_room(1);
  records_.push_back(r);
  auto position = static_cast<std::uint32_t>(records_.size() - 1);
  insert_slot(hash, position);
  ++live_;
  return position;
}

user_list::record* user_list::next_in_order(std::string_view name) {
  if (next_in_order_ >= records_.size()) return nullptr;
  record& r = records_[next_in_order_];
  if (is_deleted(r) || text_at(r, name_at) != name) return nullptr;
  ++next_in_order_;
  return &r;
}

void user_list::load_all(source_id source, std::span<const user> records, bool adding) {
  if (!adding) {
    for (const user& fields : records) load(source, fields, false);
    return;
  }
  make_room(records.size());
  std::uint32_t hashes[64];
  for (std::size_t start = 0; start < records.size(); start += std::size(hashes)) {
    std::size_t count = std::min(std::size(hashes), records.size() - start);
    for (std::size_t i = 0; i < count; ++i) {
      hashes[i] = hash_of(records[start + i].name);
      __builtin_prefetch(&slots_[hashes[i] & (slots_.size() - 1)]);
    }
    for (std::size_t i = 0; i < count; ++i) load_hashed(source, records[start + i], true, hashes[i]);
  }
}

void user_list::load_hashed(source_id source, const user& fields, bool adding,
                            std::uint32_t hash) {
  record* known = adding ? nullptr : next_in_order(fields.name);
  std::size_t at = known ? 0 : slot_of(fields.name, hash);
  if (!known && at == slots_.size()) {
    if (!adding) return;
    record r;
    put(r, name_at, source, fields.name);
    put(r, hash_at, source, fields.hash);
    put(r, sys_user_at, source, fields.sys_user);
    put(r, email_at, source, fields.email);
    append(r, hash);
    return;
  }
  if (!known) next_in_order_ = slots_[at].position;
  record& r = known ? *known : records_[slots_[at].position - 1];
  if (fields.hash) put(r, hash_at, source, fields.hash);
  if (fields.sys_user) put(r, sys_user_at, source, fields.sys_user);
  if (fields.email) put(r, email_at, source, fields.email);
}

std::optional<user> user_list::find(std::string_view name) const {
  std::size_t at = slot_of(name, hash_of(name));
  if (at == slots_.size()) return std::nullopt;
  return view_of(records_[slots_[at].position - 1]);
}

bool user_list::add(std::string_view name) {
  std::uint32_t hash = hash_of(name);
  if (slot_of(name, hash) != slots_.size()) return false;
  record r;
  put(r, name_at, copies, name);
  append(r, hash);
  return true;
}

void user_list::set(std::string_view name, user_field which, std::string_view value) {
  std::size_t at = slot_of(name, hash_of(name));
  if (at == slots_.size()) return;
  field_index i = which == user_field::hash ? hash_at
                  : which == user_field::sys_user ? sys_user_at
                                                  : email_at;
  put(records_[slots_[at].position - 1], i, copies, value);
}

bool user_list::erase(std::string_view name) {
  std::size_t at = slot_of(name, hash_of(name));
  if (at == slots_.size()) return false;
  record& r = records_[slots_[at].position - 1];
  r = record{};
  r.sources[name_at] = deleted;
  slots_[at].position = deleted_slot;
  --live_;
  return true;
}

void user_list::rename(std::string_view old_name, std::string_view new_name) {
  std::size_t at = slot_of(old_name, hash_of(old_name));
  if (at == slots_.size()) return;
  std::uint32_t position = slots_[at].position - 1;
  slots_[at].position = deleted_slot;
  record& r = records_[position];
  put(r, name_at, copies, new_name);
  // The deleted slot still counts as used, so there is room for this one.
  insert_slot(hash_of(new_name), position);
  make_room(0);
}

std::optional<std::string_view> user_list::pass_line_in(source_id source, const user& u) const {
  if (!u.hash || !u.sys_user || u.name.empty() || !holds_in(source, u.name)) return std::nullopt;
  const char* start = u.name.data();
  const char* hash = start + u.name.size() + 1;
  const char* sys_user = hash + u.hash->size() + 1;
  std::string_view all = sources_[source];
  const char* end = sys_user + u.sys_user->size();
  if (u.hash->data() != hash || u.sys_user->data() != sys_user ||
      end >= all.data() + all.size() || hash[-1] != ':' || sys_user[-1] != ':' || *end != '\n') {
    return std::nullopt;
  }
  return std::string_view(start, static_cast<std::size_t>(end + 1 - start));
}

std::optional<std::string_view> user_list::email_line_in(source_id source, const user& u) const {
  if (!u.email || !holds_in(source, *u.email)) return std::nullopt;
  std::string_view all = sources_[source];
  auto email_at_offset = static_cast<std::size_t>(u.email->data() - all.data());
  std::size_t end = email_at_offset + u.email->size();
  if (email_at_offset < u.name.size() + 1 || end >= all.size() || all[end] != '\n') {
    return std::nullopt;
  }
  std::size_t start = email_at_offset - u.name.size() - 1;
  if (all[email_at_offset - 1] != ':' || all.compare(start, u.name.size(), u.name) != 0) {
    return std::nullopt;
  }
  return all.substr(start, end + 1 - start);
}

}  // namespace rk
