#include "repodb/user_list.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

namespace rk {
namespace {

constexpr std::uint32_t empty_slot = 0;
constexpr std::uint32_t deleted_slot = ~std::uint32_t{0};
constexpr std::size_t arena_chunk = 1 << 20;
constexpr std::uint64_t address_mask = (std::uint64_t{1} << 48) - 1;
constexpr std::uint64_t long_text = 0x3fff;
constexpr int marks_shift = 62;
// Where an empty text points: anywhere but nowhere.
constexpr char empty_text[1] = "";

std::uint32_t hash_of(std::string_view name) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
}

// The marks a line with these fields can earn: each line is found from the
// texts it holds, so one without them (or with them empty, and so not in the
// file) earns none.
unsigned marks_earned(const user& fields) {
  unsigned marks = 0;
  if (!fields.name.empty() && fields.hash && fields.sys_user) marks |= pass_line_as_read;
  if (fields.email && !fields.email->empty()) marks |= users_line_as_read;
  return marks;
}

// The marks left when fields change: a line with a changed field no longer
// stands as it is written.
unsigned marks_kept(unsigned marks, const user& fields) {
  if (fields.hash || fields.sys_user) marks &= ~unsigned{pass_line_as_read};
  if (fields.email) marks &= ~unsigned{users_line_as_read};
  return marks;
}

}  // namespace

text_ref text_ref::to(const char* data, std::size_t size) {
  if (size == 0) data = empty_text;
  text_ref ref;
  ref.bits_ = (reinterpret_cast<std::uintptr_t>(data) & address_mask) |
              (std::min<std::uint64_t>(size, long_text) << 48);
  return ref;
}

text_ref text_ref::marked(unsigned marks) const {
  text_ref ref;
  ref.bits_ = (bits_ & ~(std::uint64_t{3} << marks_shift)) |
              (std::uint64_t{marks & 3} << marks_shift);
  return ref;
}

std::string_view text_ref::view() const {
  const char* data = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(bits_ & address_mask));
  std::uint64_t size = (bits_ >> 48) & long_text;
  if (size == long_text) std::memcpy(&size, data - sizeof size, sizeof size);
  return {data, static_cast<std::size_t>(size)};
}

char* text_arena::room(std::size_t size) {
  if (size > capacity_ - used_) {
    std::size_t chunk = std::max(arena_chunk, size);
    chunks_.push_back(std::make_unique<char[]>(chunk));
    used_ = 0;
    capacity_ = chunk;
  }
  char* at = chunks_.back().get() + used_;
  used_ += size;
  return at;
}

text_ref text_arena::copy(std::string_view text) {
  if (text.size() <= text_ref::longest_packed) {
    if (!kept_.empty() && kept_.back()->holds(text)) return text_ref::to(text.data(), text.size());
    char* at = room(text.size());
    std::memcpy(at, text.data(), text.size());
    return text_ref::to(at, text.size());
  }
  // Long texts carry their length before them, aligned for reading it.
  std::uint64_t size = text.size();
  room((8 - used_ % 8) % 8);
  char* at = room(sizeof size + text.size());
  std::memcpy(at, &size, sizeof size);
  std::memcpy(at + sizeof size, text.data(), text.size());
  return text_ref::to(at + sizeof size, text.size());
}

// A user kept as its line is named up to the line's first colon, where the
// password file's reader ends names.
std::string_view user_list::name_of(const record& r) {
  std::string_view text = r.first.view();
  return is_line(r) ? text.substr(0, text.find(':')) : text;
}

bool user_list::is_named(const record& r, std::string_view name) {
  std::string_view text = r.first.view();
  if (!is_line(r)) return text == name;
  return text.size() > name.size() && text[name.size()] == ':' && text.starts_with(name) &&
         name.find(':') == std::string_view::npos;
}

user user_list::view_of(const record& r) const {
  auto as_field = [](const text_ref& ref) {
    return ref.present() ? field(ref.view()) : std::nullopt;
  };
  if (!is_line(r)) {
    const side_fields& s = side_[r.second.number()];
    return user{r.first.view(), as_field(s.hash), as_field(s.sys_user), as_field(s.email)};
  }
  std::string_view line = r.first.view();
  std::size_t first = line.find(':');
  std::size_t second = line.find(':', first + 1);
  field email = as_field(r.second);
  if (email && (r.first.marks() & users_line_as_read)) email = email->substr(first + 1);
  return user{line.substr(0, first), line.substr(first + 1, second - first - 1),
              line.substr(second + 1), email};
}

std::optional<std::string_view> user_list::line_in(const record& r, const mapped_file* source,
                                                   unsigned mark) const {
  if (!source || !(r.first.marks() & mark)) return std::nullopt;
  std::string_view line;
  if (is_line(r)) {
    line = (mark == pass_line_as_read ? r.first : r.second).view();
  } else {
    // Only a users-file line keeps its mark on a user with fields on the
    // side: the line ends with the address.
    std::string_view name = r.first.view();
    std::string_view email = side_[r.second.number()].email.view();
    if (!source->holds(email)) return std::nullopt;
    std::string_view text = source->text();
    auto at = static_cast<std::size_t>(email.data() - text.data());
    if (at < name.size() + 1) return std::nullopt;
    line = text.substr(at - name.size() - 1, name.size() + 1 + email.size());
  }
  // With the newline that ends it in the file.
  line = {line.data(), line.size() + 1};
  if (!source->holds(line)) return std::nullopt;
  return line;
}

text_ref& user_list::field_of(side_fields& s, user_field which) {
  switch (which) {
    case user_field::hash: return s.hash;
    case user_field::sys_user: return s.sys_user;
    default: return s.email;
  }
}

void user_list::set_aside(record& r) {
  if (!is_line(r)) return;
  user u = view_of(r);
  // Parts of the line, and of the users-file line, are no longer than a
  // packed text; an address kept by itself may be, and stays as it is.
  auto ref_of = [](std::string_view text) { return text_ref::to(text.data(), text.size()); };
  text_ref email = r.first.marks() & users_line_as_read ? ref_of(*u.email) : r.second;
  side_.push_back(side_fields{ref_of(*u.hash), ref_of(*u.sys_user), email});
  r.first = ref_of(u.name).marked(r.first.marks() & ~unsigned{pass_line_as_read});
  r.second = text_ref::holding(side_.size() - 1);
}

std::uint32_t user_list::slot_of(std::uint32_t hash, std::size_t position) const {
  return static_cast<std::uint32_t>(std::uint64_t{hash} >> position_bits_ << position_bits_ |
                                    (position + 1));
}

bool user_list::same_hash(std::uint32_t slot, std::uint32_t hash) const {
  return std::uint64_t{slot} >> position_bits_ == std::uint64_t{hash} >> position_bits_;
}

std::size_t user_list::position_of(std::uint32_t slot) const {
  return static_cast<std::size_t>(slot & ((std::uint64_t{1} << position_bits_) - 1)) - 1;
}

std::size_t user_list::slot_index(std::string_view name, std::uint32_t hash) const {
  if (slots_.empty()) return slots_.size();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    std::uint32_t slot = slots_[i];
    if (slot == empty_slot) return slots_.size();
    if (slot != deleted_slot && same_hash(slot, hash) &&
        is_named(records_[position_of(slot)], name)) {
      return i;
    }
  }
}

void user_list::insert_slot(std::uint32_t hash, std::size_t position) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i] != empty_slot && slots_[i] != deleted_slot) i = (i + 1) & mask;
  if (slots_[i] == empty_slot) ++used_slots_;
  slots_[i] = slot_of(hash, position);
}

// Rebuilds the table, without its deleted slots, large enough for more
// users on top of the live ones and for positions up to twice as far as
// more new ones reach. Its slots hold no whole hashes, so the names are
// hashed again: loading a file sizes the table once, ahead.
void user_list::make_room(std::size_t more) {
  const std::uint64_t positions = records_.size() + more + 2;
  auto reach = [this] { return std::uint64_t{1} << position_bits_; };
  if ((used_slots_ + more) * 2 <= slots_.size() && positions <= reach()) return;
  std::size_t size = 16;
  while (size < (live_ + more) * 2) size *= 2;
  while (position_bits_ < 32 && reach() < positions * 2) ++position_bits_;
  static_assert(empty_slot == 0, "a new table's slots are empty");
  slots_ = large_table<std::uint32_t>(size);
  used_slots_ = 0;
  for (std::size_t position = 0; position < records_.size(); ++position) {
    const record& r = records_[position];
    if (r.first.present()) insert_slot(hash_of(name_of(r)), position);
  }
}

void user_list::expect(std::size_t more) {
  make_room(more);
  records_.reserve(records_.size() + more);
}

// A new user: kept as its line if that stands as it is written, in one
// piece no longer than a packed text.
void user_list::add_record(const user& fields, unsigned as_read) {
  if (as_read & pass_line_as_read) {
    const char* start = fields.name.data();
    const char* end = fields.sys_user->data() + fields.sys_user->size();
    if (fields.hash->data() == start + fields.name.size() + 1 &&
        fields.sys_user->data() == fields.hash->data() + fields.hash->size() + 1 &&
        static_cast<std::size_t>(end - start) <= text_ref::longest_packed) {
      text_ref line = texts_.copy({start, static_cast<std::size_t>(end - start)});
      records_.push_back(record{line.marked(pass_line_as_read), {}});
      if (fields.email) put_email(records_.back(), fields.name, *fields.email, as_read);
      return;
    }
  }
  side_.push_back(side_fields{});
  records_.push_back(record{texts_.copy(fields.name), text_ref::holding(side_.size() - 1)});
  store(records_.back(), fields, as_read & ~unsigned{pass_line_as_read});
}

// The address of a user kept as its line: its own line of the users file,
// if that stands as it is written.
void user_list::put_email(record& r, std::string_view name, std::string_view email,
                          unsigned as_read) {
  unsigned marks = r.first.marks() & ~unsigned{users_line_as_read};
  std::size_t line_size = name.size() + 1 + email.size();
  if ((as_read & users_line_as_read) && email.data() == name.data() + name.size() + 1 &&
      line_size <= text_ref::longest_packed) {
    r.second = texts_.copy({name.data(), line_size});
    marks |= users_line_as_read;
  } else {
    r.second = texts_.copy(email);
  }
  r.first = r.first.marked(marks);
}

void user_list::store(record& r, const user& fields, unsigned as_read) {
  if (fields.hash || fields.sys_user) set_aside(r);
  if (is_line(r)) {
    if (fields.email) put_email(r, fields.name, *fields.email, as_read);
    return;
  }
  side_fields& s = side_[r.second.number()];
  if (fields.hash) s.hash = texts_.copy(*fields.hash);
  if (fields.sys_user) s.sys_user = texts_.copy(*fields.sys_user);
  if (fields.email) s.email = texts_.copy(*fields.email);
  r.first = r.first.marked(marks_kept(r.first.marks(), fields) | (as_read & users_line_as_read));
}

// A file that names users in list order (as the tool writes them) finds
// each at the place after the last one, without a look in the index.
bool user_list::load_in_order(const user& fields, unsigned as_read) {
  if (next_in_order_ >= records_.size()) return false;
  record& r = records_[next_in_order_];
  if (!r.first.present() || !is_named(r, fields.name)) return false;
  store(r, fields, as_read);
  ++next_in_order_;
  return true;
}

void user_list::load(std::span<const user> records, bool adding,
                     std::span<const std::uint8_t> as_read) {
  // A line stored into a user read before it does not hold that user's
  // name, where the password file's line starts.
  constexpr unsigned into_earlier = ~unsigned{pass_line_as_read};
  auto marks_of = [&](std::size_t i) {
    return as_read.empty() ? 0 : as_read[i] & marks_earned(records[i]);
  };
  if (!adding) {
    for (std::size_t i = 0; i < records.size(); ++i) {
      const user& fields = records[i];
      unsigned marks = marks_of(i) & into_earlier;
      if (load_in_order(fields, marks)) continue;
      std::size_t at = slot_index(fields.name, hash_of(fields.name));
      if (at == slots_.size()) continue;
      store(records_[position_of(slots_[at])], fields, marks);
      next_in_order_ = position_of(slots_[at]) + 1;
    }
    return;
  }
  make_room(records.size());
  // Each name is hashed once, and the slots it will probe are fetched
  // while the others are hashed.
  constexpr std::size_t batch = 32;
  std::uint32_t hashes[batch];
  for (std::size_t start = 0; start < records.size(); start += batch) {
    std::size_t count = std::min(batch, records.size() - start);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = 0; i < count; ++i) {
      hashes[i] = hash_of(records[start + i].name);
      __builtin_prefetch(&slots_[hashes[i] & mask]);
    }
    for (std::size_t i = 0; i < count; ++i) {
      const user& fields = records[start + i];
      std::size_t at = slot_index(fields.name, hashes[i]);
      if (at != slots_.size()) {
        store(records_[position_of(slots_[at])], fields, marks_of(start + i) & into_earlier);
        continue;
      }
      add_record(fields, marks_of(start + i));
      insert_slot(hashes[i], records_.size() - 1);
      ++live_;
    }
  }
}

std::optional<user> user_list::find(std::string_view name) const {
  std::size_t at = slot_index(name, hash_of(name));
  if (at == slots_.size()) return std::nullopt;
  return view_of(records_[position_of(slots_[at])]);
}

bool user_list::add(std::string_view name) {
  std::uint32_t hash = hash_of(name);
  if (slot_index(name, hash) != slots_.size()) return false;
  make_room(1);
  add_record(user{name, {}, {}, {}}, 0);
  insert_slot(hash, records_.size() - 1);
  ++live_;
  return true;
}

void user_list::set(std::string_view name, user_field which, std::string_view value) {
  std::size_t at = slot_index(name, hash_of(name));
  if (at == slots_.size()) return;
  record& r = records_[position_of(slots_[at])];
  if (which == user_field::email && is_line(r)) {
    put_email(r, name, value, 0);
    return;
  }
  set_aside(r);
  field_of(side_[r.second.number()], which) = texts_.copy(value);
  if (which == user_field::email) {
    r.first = r.first.marked(r.first.marks() & ~unsigned{users_line_as_read});
  }
}

bool user_list::erase(std::string_view name) {
  std::size_t at = slot_index(name, hash_of(name));
  if (at == slots_.size()) return false;
  records_[position_of(slots_[at])] = record{};
  slots_[at] = deleted_slot;
  --live_;
  return true;
}

void user_list::rename(std::string_view old_name, std::string_view new_name) {
  std::uint32_t old_hash = hash_of(old_name);
  if (slot_index(old_name, old_hash) == slots_.size()) return;
  // Room first: a table rebuilt from the users must find the old name.
  make_room(1);
  std::size_t at = slot_index(old_name, old_hash);
  std::size_t position = position_of(slots_[at]);
  slots_[at] = deleted_slot;
  set_aside(records_[position]);
  records_[position].first = texts_.copy(new_name);
  insert_slot(hash_of(new_name), position);
}

user_loader::user_loader(user_list& users, std::shared_ptr<const mapped_file> file,
                         std::size_t expected, bool adding, unsigned line_mark)
    : users_(users), adding_(adding), line_mark_(static_cast<std::uint8_t>(line_mark)) {
  users_.keep(std::move(file));
  if (adding) users_.expect(expected);
}

void user_loader::finish() {
  users_.load(std::span<const user>(batch_, pending_), adding_,
              std::span<const std::uint8_t>(as_read_, pending_));
  pending_ = 0;
}

}  // namespace rk
