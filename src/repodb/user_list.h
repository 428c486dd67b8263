// The users of one repository: kept in the order they were read or added,
// found by name in constant time. A million users read from their files take
// about 24 bytes each, a third of it the index, besides their texts, which
// stay in the files they were read from.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "repodb/mapped_file.h"
#include "repodb/large_memory.h"

namespace rk {

// A field is absent (nothing) or a text, possibly empty.
using field = std::optional<std::string_view>;

// A user as the list hands it out: views of texts the list keeps, valid
// until the next change to that user.
struct user {
  std::string_view name;
  field hash;
  field sys_user;
  field email;
};

enum class user_field { hash, sys_user, email };

// A text the list keeps, in 8 bytes: its address in the low 48 bits (all a
// user-space address has on the platforms the tool is built for), its
// length in the next 14 and two marks in the top two. A text of 0x3fff
// bytes or more is copied, its length in the 8 bytes before it. All zero:
// absent.
class text_ref {
 public:
  text_ref() = default;
  static text_ref to(const char* data, std::size_t size);
  bool present() const { return bits_ != 0; }
  std::string_view view() const;
  static constexpr std::size_t longest_packed = 0x3ffe;

  unsigned marks() const { return static_cast<unsigned>(bits_ >> 62); }
  // The same text with marks (0 to 3) in place of its own.
  text_ref marked(unsigned marks) const;

  // The 8 bytes as a number, for a place that holds a number instead.
  static text_ref holding(std::uint64_t number) {
    text_ref ref;
    ref.bits_ = number;
    return ref;
  }
  std::uint64_t number() const { return bits_; }

 private:
  std::uint64_t bits_ = 0;
};

// Marks of a user whose line stands in the file read exactly as it is
// written, so that writing the file again may copy it from there: the
// password file's line starts at the name, the users file's line ends with
// the address.
enum line_as_read : unsigned { pass_line_as_read = 1, users_line_as_read = 2 };

// Copies of texts, kept until the list goes, and the files that were read,
// whose texts need no copy.
class text_arena {
 public:
  text_ref copy(std::string_view text);
  void keep(std::shared_ptr<const mapped_file> file) { kept_.push_back(std::move(file)); }

 private:
  char* room(std::size_t size);
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
  std::vector<std::shared_ptr<const mapped_file>> kept_;
};

class user_list {
  // A user whose password-file line stands as it is written is that line
  // (and its address, if any): 16 bytes. Any other user keeps its name here
  // and its fields on the side.
  struct record {
    // Marked pass_line_as_read: the line "name:hash:sys_user", newline left
    // out. Otherwise the name. Absent: a deleted user's hole. Carries the
    // user's line_as_read marks.
    text_ref first;
    // Marked pass_line_as_read: the users-file line "name:email" if marked
    // users_line_as_read too, else the address. Otherwise the place of the
    // fields in side_.
    text_ref second;
  };
  struct side_fields {
    text_ref hash;
    text_ref sys_user;
    text_ref email;
  };

 public:
  // Makes room for about that many more users, so that loading a file
  // sizes the index once instead of growing it step by step.
  void expect(std::size_t more);
  // Stores a file's records in order: a name already there is updated (an
  // absent field leaves its value alone), a new one added at the end, or,
  // unless adding, left out. as_read, if given, holds for each record the
  // line_as_read marks its line earns.
  void load(std::span<const user> records, bool adding,
            std::span<const std::uint8_t> as_read = {});
  // Keeps a file read for good: texts inside it are not copied.
  void keep(std::shared_ptr<const mapped_file> file) { texts_.keep(std::move(file)); }

  std::optional<user> find(std::string_view name) const;
  // Adds name, with no fields, unless it is there: whether it was added.
  bool add(std::string_view name);
  // Stores a copy of value in a field of name, which must be there.
  void set(std::string_view name, user_field which, std::string_view value);
  bool erase(std::string_view name);
  // Gives old_name (which must be there) new_name (which must not); the user
  // keeps its place.
  void rename(std::string_view old_name, std::string_view new_name);

  std::size_t size() const { return live_; }

  // A user in the list, as the list hands it to a visit of every user.
  class entry {
   public:
    user fields() const { return list_.view_of(record_); }
    // The user's line in source, newline included, if it carries the
    // line_as_read mark (one of them) and source holds it.
    std::optional<std::string_view> line_in(const mapped_file* source, unsigned mark) const {
      return list_.line_in(record_, source, mark);
    }

   private:
    friend class user_list;
    entry(const user_list& list, const record& r) : list_(list), record_(r) {}
    const user_list& list_;
    const record& record_;
  };
  // Calls visit(const entry&) for every user in list order.
  template <typename Visitor>
  void for_each_entry(Visitor visit) const {
    for (const record& r : records_) {
      if (r.first.present()) visit(entry(*this, r));
    }
  }
  // Calls visit(const user&) for every user in list order.
  template <typename Visitor>
  void for_each(Visitor visit) const {
    for_each_entry([&](const entry& e) { visit(e.fields()); });
  }

 private:
  static bool is_line(const record& r) { return r.first.marks() & pass_line_as_read; }
  static std::string_view name_of(const record& r);
  static bool is_named(const record& r, std::string_view name);
  user view_of(const record& r) const;
  std::optional<std::string_view> line_in(const record& r, const mapped_file* source,
                                          unsigned mark) const;
  static text_ref& field_of(side_fields& s, user_field which);
  // Gives a user kept as its line its fields on the side, to be changed.
  void set_aside(record& r);
  void put_email(record& r, std::string_view name, std::string_view email, unsigned as_read);

  // An open-addressing table of positions in records_, at most half full
  // with deleted slots counted, so that a probe for a name that is not there
  // ends after a few slots. A slot holds the position + 1 in its low
  // position_bits_ and the top bits of the name's 32-bit hash above them, so
  // that few probes read a name (0 empty, all ones deleted).
  std::uint32_t slot_of(std::uint32_t hash, std::size_t position) const;
  bool same_hash(std::uint32_t slot, std::uint32_t hash) const;
  std::size_t position_of(std::uint32_t slot) const;
  std::size_t slot_index(std::string_view name, std::uint32_t hash) const;
  void insert_slot(std::uint32_t hash, std::size_t position);
  void make_room(std::size_t more);
  void add_record(const user& fields, unsigned as_read);
  void store(record& r, const user& fields, unsigned as_read);
  bool load_in_order(const user& fields, unsigned as_read);

  text_arena texts_;
  std::vector<record, large_allocator<record>> records_;
  std::vector<side_fields, large_allocator<side_fields>> side_;
  large_table<std::uint32_t> slots_;
  unsigned position_bits_ = 0;
  std::size_t live_ = 0;
  std::size_t used_slots_ = 0;  // live and deleted
  std::size_t next_in_order_ = 0;  // where a file in list order names its next user
};

// Hands a file's records to the list as they are read, a batch at a time,
// so that the list can look ahead; what is pending goes in at finish().
class user_loader {
 public:
  // Keeps file for the list; expected: how many records to make room for;
  // line_mark: the line_as_read mark of a line of file that stands as it is
  // written.
  user_loader(user_list& users, std::shared_ptr<const mapped_file> file, std::size_t expected,
              bool adding, unsigned line_mark = 0);
  user_loader(const user_loader&) = delete;
  user_loader& operator=(const user_loader&) = delete;
  ~user_loader() { finish(); }

  // The place of the next record, to be filled (every field of it) before
  // push() adds it; as_written: the record's line is in the file as it is
  // written, its fields trimmed of nothing but the newline that ends it.
  user& next() { return batch_[pending_]; }
  void push(bool as_written = false) {
    as_read_[pending_++] = as_written ? line_mark_ : 0;
    if (pending_ == batch_size) finish();
  }
  void finish();

 private:
  static constexpr std::size_t batch_size = 256;
  user_list& users_;
  bool adding_;
  std::uint8_t line_mark_;
  std::size_t pending_ = 0;
  user batch_[batch_size];
  std::uint8_t as_read_[batch_size];
};

}  // namespace rk
