// The user list against a plain model of it: thousands of random adds,
// loads of a file's lines, sets, deletes, renames and repeated names,
// through the index's growth, its rehashing and the reuse of deleted slots.
// Texts given to it by view are copied: the test's own strings change
// under it.
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
        // Lines as a file holds them, kept by the list, their fields cut
        // from its copy.
        std::string text;
        for (std::size_t i = 0; i < batch_names.size(); ++i) {
          if (!adding) text += batch_names[i] + ":" + texts[i] + "\n";
          else if (i == 1 && !second_has_sys_user) text += batch_names[i] + ":" + texts[i] + "\n";
          else text += batch_names[i] + ":" + texts[i] + ":" + texts[3] + "\n";
        }
        auto source = list.keep(std::move(text));
        if (!source) break;  // as many files as the list can keep: none more
        std::string_view kept = list.text_of(*source);
        for (std::size_t i = 0; i < batch_names.size(); ++i) {
          std::string_view line = kept.substr(0, kept.find('\n'));
          kept.remove_prefix(line.size() + 1);
          std::string_view name_part = line.substr(0, batch_names[i].size());
          std::string_view first = line.substr(name_part.size() + 1, texts[i].size());
          if (!adding) {
            list.load(*source, user{name_part, std::nullopt, std::nullopt, first}, false);
          } else {
            field sys = i == 1 && !second_has_sys_user
                            ? field()
                            : field(line.substr(name_part.size() + first.size() + 2));
            list.load(*source, user{name_part, first, sys, std::nullopt}, true);
          }
        }
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
        // Empty, short, and long.
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

// A user's line is written as it was read only where the text read holds
// exactly the line that would be written.
TEST(user_list, lines_as_read_are_found_only_where_they_stand_whole) {
  user_list list;
  auto pass = list.keep("ab:h:s\ncd:h2\nef:h3:s3");
  auto mail = list.keep("xab:mail\ncd:c@x\n");
  ASSERT_TRUE(pass && mail);
  std::string_view p = list.text_of(*pass), m = list.text_of(*mail);
  list.load(*pass, user{p.substr(0, 2), p.substr(3, 1), p.substr(5, 1), std::nullopt}, true);
  list.load(*pass, user{p.substr(7, 2), p.substr(10, 2), std::nullopt, std::nullopt}, true);
  list.load(*pass, user{p.substr(13, 2), p.substr(16, 2), p.substr(19), std::nullopt}, true);
  // "xab" is no user: its address ends up nowhere.
  list.load(*mail, user{m.substr(0, 3), std::nullopt, std::nullopt, m.substr(4, 4)}, false);
  list.load(*mail, user{m.substr(9, 2), std::nullopt, std::nullopt, m.substr(12, 3)}, false);
  auto ab = list.find("ab"), cd = list.find("cd"), ef = list.find("ef");
  ASSERT_TRUE(ab && cd && ef);
  EXPECT_EQ(ab->email, std::nullopt);
  EXPECT_EQ(list.pass_line_in(*pass, *ab), "ab:h:s\n");
  // Without a system user the line would be written with a ':' more.
  EXPECT_EQ(list.pass_line_in(*pass, *cd), std::nullopt);
  // The last line has no newline to copy.
  EXPECT_EQ(list.pass_line_in(*pass, *ef), std::nullopt);
  EXPECT_EQ(list.email_line_in(*mail, *cd), "cd:c@x\n");
  list.set("ab", user_field::email, "mail");
  EXPECT_EQ(list.email_line_in(*mail, *list.find("ab")), std::nullopt);
  // A new name that ends the old one still finds "d:c@x\n" in "cd:c@x\n",
  // which is just the line to write; any other does not.
  list.rename("cd", "d");
  EXPECT_EQ(list.email_line_in(*mail, *list.find("d")), "d:c@x\n");
  list.rename("d", "e");
  EXPECT_EQ(list.email_line_in(*mail, *list.find("e")), std::nullopt);
  list.set("ab", user_field::hash, "h");
  EXPECT_EQ(list.pass_line_in(*pass, *list.find("ab")), std::nullopt);
}

// Fields of any length a file can hold, read by place and stored by copy.
TEST(user_list, long_fields_are_kept_whole) {
  for (std::size_t size : {16383u, 16384u, 65535u, 65536u, 1u << 20}) {
    SCOPED_TRACE(size);
    user_list list;
    std::string text = "n:" + std::string(size, 'h') + ":" + std::string(size, 's') + "\n";
    auto source = list.keep(text);
    ASSERT_TRUE(source);
    std::string_view t = list.text_of(*source);
    list.load(*source, user{t.substr(0, 1), t.substr(2, size), t.substr(3 + size, size), {}}, true);
    list.set("n", user_field::email, std::string(size, 'e'));
    list.rename("n", std::string(size, 'N'));
    auto u = list.find(std::string(size, 'N'));
    ASSERT_TRUE(u);
    EXPECT_EQ(u->hash, std::string(size, 'h'));
    EXPECT_EQ(u->sys_user, std::string(size, 's'));
    EXPECT_EQ(u->email, std::string(size, 'e'));
  }
}

}  // namespace
}  // namespace rk
