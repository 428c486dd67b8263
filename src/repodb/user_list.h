// The users of one repository: kept in the order they were read or added,
// found by name in constant time. The list owns the texts of the files it
// was loaded from, and a user read from a file refers to its fields by
// place (offset and length) in that text: nothing of a file is copied.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rk {

// A field is absent (nothing) or a text, possibly empty.
using field = std::optional<std::string_view>;

// A user as the list hands it out: views of texts the list keeps, valid
// until the next change to the list.
struct user {
  std::string_view name;
  field hash;
  field sys_user;
  field email;
};

enum class user_field { hash, sys_user, email };

class user_list {
 public:
  // The texts the list holds: copies it made (0) and files it keeps (1 on).
  using source_id = std::uint8_t;
  static constexpr source_id copies = 0;

  // Takes text for good; its parts may then be loaded by place. Nothing
  // when the list holds as many texts as it can.
  std::optional<source_id> keep(std::string text);
  std::string_view text_of(source_id source) const { return sources_[source]; }

  // Makes room in the index for that many more users, so that loading a
  // file sizes it once instead of growing it step by step.
  void expect(std::size_t more);
  // Stores one record whose texts lie in text_of(source): a name already
  // there is updated (an absent field leaves its value alone), a new one
  // added at the end, or, unless adding, left out.
  void load(source_id source, const user& fields, bool adding) {
    load_hashed(source, fields, adding, hash_of(fields.name));
  }
  // The same for records in order, the places in the index they need fetched
  // ahead while the others are stored: a file's many lookups do not wait on
  // the memory one at a time.
  void load_all(source_id source, std::span<const user> records, bool adding);

  std::optional<user> find(std::string_view name) const;
  // Adds name, with no fields, unless it is there: whether it was added.
  bool add(std::string_view name);
  // Stores a copy of value in a field of name, if it is there.
  void set(std::string_view name, user_field which, std::string_view value);
  bool erase(std::string_view name);
  // Gives old_name (which must be there) new_name (which must not); the user
  // keeps its place.
  void rename(std::string_view old_name, std::string_view new_name);

  std::size_t size() const { return live_; }

  // Calls visit(const user&) for every user in list order.
  template <typename Visitor>
  void for_each(Visitor visit) const {
    for (const record& r : records_) {
      if (!is_deleted(r)) visit(view_of(r));
    }
  }

  // The line "name:hash:sys_user\n" of a user, if source holds it as such
  // ("name:email\n" for email_line): then a write may copy it from there.
  std::optional<std::string_view> pass_line_in(source_id source, const user& u) const;
  std::optional<std::string_view> email_line_in(source_id source, const user& u) const;

 private:
  static constexpr source_id deleted = 0xff;
  static constexpr std::uint32_t absent = 0xffffffff;
  // A text of the list: where it lies in its source, or absent.
  struct place {
    std::uint32_t offset = 0;
    std::uint32_t length = absent;
  };
  enum field_index { name_at, hash_at, sys_user_at, email_at };
  // 36 bytes a user.
  struct record {
    place fields[4];
    source_id sources[4] = {copies, copies, copies, copies};
  };

  std::string_view text_at(const record& r, field_index i) const {
    return std::string_view(sources_[r.sources[i]]).substr(r.fields[i].offset, r.fields[i].length);
  }
  field field_at(const record& r, field_index i) const {
    return r.fields[i].length == absent ? std::nullopt : field(text_at(r, i));
  }
  static bool is_deleted(const record& r) { return r.sources[name_at] == deleted; }
  user view_of(const record& r) const;
  // Puts text (absent, a part of source, or anything else, copied) in
  // field i of r.
  void put(record& r, field_index i, source_id source, field text);
  bool holds_in(source_id source, std::string_view text) const;

  // An open-addressing table of positions in records_, at most half full
  // with deleted slots counted, so that a probe for a name that is not there
  // ends after a few slots. A slot holds the name's hash beside the position
  // (+ 1; 0 is empty, all ones deleted), so that a probe reads few records.
  struct slot {
    std::uint32_t position;
    std::uint32_t hash;
  };
  std::size_t slot_of(std::string_view name, std::uint32_t hash) const;
  void insert_slot(std::uint32_t hash, std::uint32_t position);
  void make_room(std::size_t more);
  static std::uint32_t hash_of(std::string_view name);
  void load_hashed(source_id source, const user& fields, bool adding, std::uint32_t hash);
  std::uint32_t append(const record& r, std::uint32_t hash);
  // The record a file that names users in list order (as the tool writes
  // them) names next, if it is that one: found without a look in the table.
  record* next_in_order(std::string_view name);

  std::vector<std::string> sources_{std::string()};
  // Records never move as the list grows: no table the size of the list is
  // copied on the way.
  std::deque<record> records_;
  std::vector<slot> slots_;
  std::size_t live_ = 0;
  std::size_t used_slots_ = 0;  // live and deleted
  std::size_t next_in_order_ = 0;
};

}  // namespace rk
