// The user list against a plain model of it: thousands of random adds,
// loads of a file's lines, sets, deletes, renames and repeated names,
// through the index's growth, its rehashing and the reuse of deleted slots.
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
        std::vector<std::string> batch_names{name, any_name(), name};
        bool adding = step % 4 != 0;
        std::vector<user> batch;
        for (std::size_t i = 0; i < batch_names.size(); ++i) {
          batch.push_back(user{batch_names[i], texts[i], i == 1 ? field() : field(texts[3]),
                               std::nullopt});
        }
        list.load(batch, adding);
        for (std::size_t i = 0; i < batch_names.size(); ++i) {
          if (!adding && !reference.has(batch_names[i])) continue;
          reference.add(batch_names[i]);
          reference.by_name[batch_names[i]].hash = texts[i];
          if (i != 1) reference.by_name[batch_names[i]].sys_user = texts[3];
        }
        break;
      }
      case 2: {  // set a field
        ASSERT_EQ(list.find(name).has_value(), reference.has(name));
        if (!reference.has(name)) break;
        std::string value = step % 5 == 0 ? "" : "v" + std::to_string(step);
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

}  // namespace
}  // namespace rk
