// The user list against a plain model of it: thousands of random adds,
// loads of a file's lines, sets, deletes, renames and repeated names,
// through the index's growth, its rehashing and the reuse of deleted slots,
// for users kept as their lines and users with their fields on the side.
// Texts given to it are copied: the test's own strings change under it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "repodb/user_list.h"

namespace rk {
namespace {

struct model_user {
  std::optional<std::string> hash, sys_user, email;
};

// A std::map by name and a vector for the order, as the list must behave.
struct model {
  std::map<std::string, model_user> by_name;
  std::vector<std::string> order;

  bool has(const std::string& name) const { return by_name.count(name) != 0; }
  void add(const std::string& name) {
    if (has(name)) return;
    by_name[name];
    order.push_back(name);
  }
  void erase(const std::string& name) {
    by_name.erase(name);
    order.erase(std::find(order.begin(), order.end(), name));
  }
  void rename(const std::string& from, const std::string& to) {
    by_name[to] = by_name[from];
    by_name.erase(from);
    *std::find(order.begin(), order.end(), from) = to;
  }
};

std::optional<std::string> as_text(const std::optional<std::string_view>& field) {
  return field ? std::optional<std::string>(*field) : std::nullopt;
}

void expect_same(user_list& list, const model& reference, const std::vector<std::string>& names) {
  ASSERT_EQ(list.size(), reference.order.size());
  std::vector<std::string> listed;
  list.for_each([&listed](const user& u) { listed.emplace_back(u.name); });
  ASSERT_EQ(listed, reference.order);
  for (const std::string& name : names) {
    auto found = list.find(name);
    auto it = reference.by_name.find(name);
    ASSERT_EQ(found.has_value(), it != reference.by_name.end()) << name;
    if (!found) continue;
    EXPECT_EQ(found->name, name);
    EXPECT_EQ(as_text(found->hash), it->second.hash) << name;
    EXPECT_EQ(as_text(found->sys_user), it->second.sys_user) << name;
    EXPECT_EQ(as_text(found->email), it->second.email) << name;
  }
}

TEST(user_list, behaves_as_a_map_in_list_order) {
  std::mt19937 random(20261210);
  // Names that collide in few buckets and names that do not; empty texts too.
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back("u" + std::to_string(i * 7919 % 10007));
  names.push_back("");
  auto any_name = [&] { return names[random() % names.size()]; };

  user_list list;
  model reference;
  for (int step = 0; step < 40000; ++step) {
    const std::string name = any_name();
    switch (random() % 6) {
      case 0: {  // add, or find again by the same name
        EXPECT_EQ(list.add(name), !reference.has(name)) << name;
        reference.add(name);
        break;
      }
      case 1: {  // a file's lines: repeated names, absent fields, missing users
        std::vector<std::string> texts;
        for (int i = 0; i < 4; ++i) texts.push_back("f" + std::to_string(step * 4 + i));
        std::vector<std::string> batch_names{name, any_name(), step % 3 == 0 ? name : any_name()};
        bool adding = step % 4 != 0;
        bool second_has_sys_user = step % 2 == 0;
        // Lines as a file holds them, its fields cut from them, each marked
        // as standing as it is written or not.
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < batch_names.size(); ++i) {
          if (!adding) lines.push_back(batch_names[i] + ":" + texts[i]);
          else if (i == 1 && !second_has_sys_user) lines.push_back(batch_names[i] + ":" + texts[i]);
          else lines.push_back(batch_names[i] + ":" + texts[i] + ":" + texts[3]);
        }
        std::vector<user> batch;
        std::vector<std::uint8_t> as_read;
        for (std::size_t i = 0; i < batch_names.size(); ++i) {
          std::string_view line = lines[i];
          std::string_view name_part = line.substr(0, batch_names[i].size());
          std::string_view first = line.substr(name_part.size() + 1, texts[i].size());
          if (!adding) {
            batch.push_back(user{name_part, std::nullopt, std::nullopt, first});
            as_read.push_back(random() % 3 ? unsigned{users_line_as_read} : 0u);
          } else {
            field sys = i == 1 && !second_has_sys_user
                            ? field()
                            : field(line.substr(name_part.size() + first.size() + 2));
            batch.push_back(user{name_part, first, sys, std::nullopt});
            as_read.push_back(random() % 3 ? unsigned{pass_line_as_read} : 0u);
          }
        }
        list.load(batch, adding, as_read);
        for (std::string& line : lines) line.assign(line.size(), '#');
        for (std::size_t i = 0; i < batch_names.size(); ++i) {
          if (!adding && !reference.has(batch_names[i])) continue;
          reference.add(batch_names[i]);
          model_user& u = reference.by_name[batch_names[i]];
          if (!adding) {
            u.email = texts[i];
            continue;
          }
          u.hash = texts[i];
          if (i != 1 || second_has_sys_user) u.sys_user = texts[3];
        }
        break;
      }
      case 2: {  // set a field
        ASSERT_EQ(list.find(name).has_value(), reference.has(name));
        if (!reference.has(name)) break;
        // Empty, short, and longer than a packed text.
        const auto long_size = std::size_t{0x4000} + static_cast<std::size_t>(step % 3);
        std::string value = step % 5 == 0   ? ""
                            : step % 7 == 0 ? std::string(long_size, 'x')
                                            : "v" + std::to_string(step);
        switch (step % 3) {
          case 0: list.set(name, user_field::hash, value); reference.by_name[name].hash = value; break;
          case 1: list.set(name, user_field::sys_user, value); reference.by_name[name].sys_user = value; break;
          default: list.set(name, user_field::email, value); reference.by_name[name].email = value; break;
        }
        break;
      }
      case 3:
      case 4: {  // delete, more often while the list is large
        bool present = reference.has(name);
        EXPECT_EQ(list.erase(name), present);
        if (present) reference.erase(name);
        break;
      }
      default: {  // rename to a name not in use
        std::string to = any_name() + "r";
        if (!reference.has(name) || reference.has(to)) break;
        list.rename(name, to);
        reference.rename(name, to);
        break;
      }
    }
    if (step % 1000 == 0) expect_same(list, reference, names);
  }
  expect_same(list, reference, names);
  // Empty it and fill it again: every slot was deleted once.
  for (const std::string& name : std::vector<std::string>(reference.order)) {
    ASSERT_TRUE(list.erase(name));
    reference.erase(name);
  }
  expect_same(list, reference, names);
  for (const std::string& name : names) {
    list.add(name);
    reference.add(name);
  }
  expect_same(list, reference, names);
}

// A user kept as its password-file line is named by the line up to its
// first colon, not by any start of it.
TEST(user_list, a_name_that_starts_a_line_is_not_its_user) {
  user_list list;
  const std::string pass = "ab:h:s";
  std::string_view line = pass;
  const std::vector<user> pass_lines{
      user{line.substr(0, 2), line.substr(3, 1), line.substr(5), std::nullopt}};
  const std::vector<std::uint8_t> pass_marks{pass_line_as_read};
  list.load(pass_lines, true, pass_marks);
  // The users file names "a" where "ab" is next in list order.
  const std::string users = "a:mail";
  std::string_view users_line = users;
  const std::vector<user> users_lines{
      user{users_line.substr(0, 1), std::nullopt, std::nullopt, users_line.substr(2)}};
  const std::vector<std::uint8_t> users_marks{users_line_as_read};
  list.load(users_lines, false, users_marks);
  EXPECT_FALSE(list.find("a"));
  auto ab = list.find("ab");
  ASSERT_TRUE(ab);
  EXPECT_EQ(ab->email, std::nullopt);
  EXPECT_EQ(ab->hash, "h");
  EXPECT_EQ(ab->sys_user, "s");
}

}  // namespace
}  // namespace rk
