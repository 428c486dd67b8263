#include "repodb/user_list.h"

#include <functional>
#include <new>

namespace rk {
namespace {

constexpr std::uint32_t empty_slot = 0;
constexpr std::uint32_t deleted_slot = 0xffffffff;

std::uint32_t hash_of(std::string_view name) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
}

// Places are 32-bit: a text past that is more than the list can hold, which
// ends the run as any other want of memory does.
[[noreturn]] void too_large() {
  if (std::new_handler handler = std::get_new_handler()) handler();
  throw std::bad_alloc();
}

}  // namespace

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
    std::uint32_t slot = slots_[i];
    if (slot == empty_slot) return slots_.size();
    if (slot == deleted_slot) continue;
    const record& r = records_[slot - 1];
    if (r.name_hash == hash && text_at(r, name_at) == name) return i;
  }
}

void user_list::insert_slot(std::uint32_t hash, std::uint32_t position) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i] != empty_slot && slots_[i] != deleted_slot) i = (i + 1) & mask;
  if (slots_[i] == empty_slot) ++used_slots_;
  slots_[i] = position + 1;
}

// Room for one more: the table is rebuilt, without its deleted slots, at
// twice the size it needs once it would be over half full.
void user_list::make_room() {
  if ((used_slots_ + 1) * 2 <= slots_.size()) return;
  std::size_t size = 16;
  while (size < (live_ + 1) * 4) size *= 2;
  slots_.assign(size, empty_slot);
  used_slots_ = 0;
  for (std::size_t position = 0; position < records_.size(); ++position) {
    const record& r = records_[position];
    if (!is_deleted(r)) insert_slot(r.name_hash, static_cast<std::uint32_t>(position));
  }
}

std::uint32_t user_list::append(const record& r) {
  if (records_.size() >= deleted_slot - 1) too_large();
  make_room();
  records_.push_back(r);
  auto position = static_cast<std::uint32_t>(records_.size() - 1);
  insert_slot(r.name_hash, position);
  ++live_;
  return position;
}

void user_list::load(source_id source, const user& fields, bool adding) {
  std::uint32_t hash = hash_of(fields.name);
  std::size_t at = slot_of(fields.name, hash);
  if (at == slots_.size()) {
    if (!adding) return;
    record r;
    r.name_hash = hash;
    put(r, name_at, source, fields.name);
    put(r, hash_at, source, fields.hash);
    put(r, sys_user_at, source, fields.sys_user);
    put(r, email_at, source, fields.email);
    append(r);
    return;
  }
  record& r = records_[slots_[at] - 1];
  if (fields.hash) put(r, hash_at, source, fields.hash);
  if (fields.sys_user) put(r, sys_user_at, source, fields.sys_user);
  if (fields.email) put(r, email_at, source, fields.email);
}

std::optional<user> user_list::find(std::string_view name) const {
  std::size_t at = slot_of(name, hash_of(name));
  if (at == slots_.size()) return std::nullopt;
  return view_of(records_[slots_[at] - 1]);
}

bool user_list::add(std::string_view name) {
  std::uint32_t hash = hash_of(name);
  if (slot_of(name, hash) != slots_.size()) return false;
  record r;
  r.name_hash = hash;
  put(r, name_at, copies, name);
  append(r);
  return true;
}

void user_list::set(std::string_view name, user_field which, std::string_view value) {
  std::size_t at = slot_of(name, hash_of(name));
  if (at == slots_.size()) return;
  field_index i = which == user_field::hash ? hash_at
                  : which == user_field::sys_user ? sys_user_at
                                                  : email_at;
  put(records_[slots_[at] - 1], i, copies, value);
}

bool user_list::erase(std::string_view name) {
  std::size_t at = slot_of(name, hash_of(name));
  if (at == slots_.size()) return false;
  record& r = records_[slots_[at] - 1];
  r = record{};
  r.sources[name_at] = deleted;
  slots_[at] = deleted_slot;
  --live_;
  return true;
}

void user_list::rename(std::string_view old_name, std::string_view new_name) {
  std::size_t at = slot_of(old_name, hash_of(old_name));
  if (at == slots_.size()) return;
  std::uint32_t position = slots_[at] - 1;
  slots_[at] = deleted_slot;
  record& r = records_[position];
  put(r, name_at, copies, new_name);
  r.name_hash = hash_of(new_name);
  // The deleted slot still counts as used, so there is room for this one.
  insert_slot(r.name_hash, position);
  make_room();
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
