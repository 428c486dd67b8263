// The users of one repository: kept in the order they were read or added,
// found by name in constant time. A million users fit in a few hundred bytes
// each: the texts live in one arena, the records in one deque.
#pragma once

#include <cstdint>
#include <string>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace rk {

// A field is absent (nothing) or a text, possibly empty. The texts belong to
// the user_list that holds the user.
struct user {
  std::string_view name;
  std::optional<std::string_view> hash;
  std::optional<std::string_view> sys_user;
  std::optional<std::string_view> email;
};

// Copies of texts, kept until the arena goes.
class text_arena {
 public:
  std::string_view copy(std::string_view text);
  // Keeps text (a file just read, say) for good: what lies inside it needs
  // no copy.
  void keep(std::shared_ptr<const std::string> text);

 private:
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
  std::vector<std::shared_ptr<const std::string>> kept_;
};

// Users by position, in chunks that never move.
class user_store {
 public:
  user& operator[](std::size_t position) { return chunks_[position / chunk][position % chunk]; }
  const user& operator[](std::size_t position) const {
    return chunks_[position / chunk][position % chunk];
  }
  std::size_t size() const { return size_; }
  user& push_back(const user& u);

 private:
  static constexpr std::size_t chunk = 4096;
  std::vector<std::unique_ptr<user[]>> chunks_;
  std::size_t size_ = 0;
};

class user_list {
 public:
  user* find(std::string_view name);
  // Starts fetching the memory a later find of name will look at.
  void prefetch(std::string_view name) const;
  // The user called name; a new one with no fields, added at the end, when
  // there is none (created is then set).
  user& find_or_append(std::string_view name, bool& created);
  // Stores a copy of value in the field.
  void set(std::optional<std::string_view>& field, std::string_view value);
  void keep_text(std::shared_ptr<const std::string> text) { texts_.keep(std::move(text)); }
  bool erase(std::string_view name);
  void rename(user& u, std::string_view new_name);

  std::size_t size() const { return live_; }
  // Calls visit(const user&) for every user in list order.
  template <typename Visitor>
  void for_each(Visitor visit) const {
    for (std::size_t i = 0; i < users_.size(); ++i) {
      if (users_[i].name.data() != nullptr) visit(users_[i]);
    }
  }

 private:
  // An open-addressing table of positions in users_, each slot holding the
  // name's 32-bit hash and the position + 1 (0 empty, all ones deleted).
  // The table can be rebuilt from the slots alone, without a name.
  std::uint64_t* slot_of(std::string_view name, std::uint32_t hash);
  void insert_slot(std::uint32_t hash, std::size_t position);
  void grow_index();

  text_arena texts_;
  user_store users_;  // a deleted user stays as a hole with no name
  std::vector<std::uint64_t> slots_;
  std::size_t live_ = 0;
  std::size_t used_slots_ = 0;  // live and deleted
};

}  // namespace rk
