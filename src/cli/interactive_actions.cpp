// The actions that ask questions for each name: add, email, misc, sys, pass.
#include <cstdio>
#include <string>

#include "cli/actions.h"
#include "cli/ask.h"
#include "repodb/database.h"
#include "repodb/readable_text.h"

namespace rk {
namespace {

using answer = std::optional<std::string>;

field_arg as_field(const answer& a) {
  return a ? field_arg(*a) : std::nullopt;
}

answer ask_password() {
  return opt_ask_hash ? ask(false, "Password hash? ") : ask(true, "Password? ");
}

// Tells the user why nothing of name is changed.
void refuse(const char* name, const char* what, std::string_view defect) {
  std::printf("Refusing user \"%s\": %s %.*s\n", printable(name).c_str(), what,
              static_cast<int>(defect.size()), defect.data());
}

bool name_is_storable(const char* name) {
  auto defect = name_defect(name);
  if (defect) refuse(name, "the name", *defect);
  return !defect;
}

// Whether the answers can be written and read back unchanged; refuses name
// when one cannot.
bool answers_are_storable(const char* name, const answer& hash, const answer& sys_user,
                          const answer& email) {
  std::optional<std::string_view> defect;
  if (hash && (defect = hash_defect(*hash))) {
    refuse(name, "the password hash", *defect);
  } else if (sys_user && (defect = answer_defect(*sys_user))) {
    refuse(name, "the system user", *defect);
  } else if (email && (defect = answer_defect(*email))) {
    refuse(name, "the e-mail address", *defect);
  }
  return !defect;
}

}  // namespace

int add_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (!name_is_storable(name)) continue;
    std::printf("User %s\n", name);
    answer hash = ask_password();
    answer sys_user = ask(false, "System user? [%s] ", "");
    answer email = ask(false, "Email address? [%s] ", "");
    if (!answers_are_storable(name, hash, sys_user, email)) continue;
    if (_set_user_info(cur_repo, name, as_field(hash), as_field(sys_user), as_field(email)) < 0) {
      std::printf("Error setting %s's new info\n", name);
    }
  }
  return 0;
}

int email_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (!name_is_storable(name)) continue;
    answer email = ask(false, "New email for %s? ", name);
    if (!answers_are_storable(name, std::nullopt, std::nullopt, email)) continue;
    if (_set_user_info(cur_repo, name, std::nullopt, std::nullopt, as_field(email)) < 0) {
      std::printf("Error setting email to %s\n", email.value_or("").c_str());
    }
  }
  return 0;
}

int misc_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    answer old_sys_user;
    answer old_email;
    if (_get_user_info(cur_repo, name, nullptr, &old_sys_user, &old_email) < 0) {
      std::printf("error getting %s's info\n", name);
      continue;
    }
    std::printf("User %s\n", name);
    answer hash = ask_password();
    answer sys_user = ask(false, "System user? [%s] ", old_sys_user.value_or("").c_str());
    answer email = ask(false, "Email address? [%s] ", old_email.value_or("").c_str());
    if (!answers_are_storable(name, hash, sys_user, email)) continue;
    if (_set_user_info(cur_repo, name, as_field(hash), as_field(sys_user), as_field(email)) < 0) {
      std::printf("Error setting %s's new info\n", name);
    }
  }
  return 0;
}

int sys_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    answer old_sys_user;
    if (_get_user_info(cur_repo, name, nullptr, &old_sys_user, nullptr) < 0) {
      std::printf("Can't get %s's information\n", name);
      continue;
    }
    answer sys_user =
        ask(false, "New system user for %s? [%s] ? ", name, old_sys_user.value_or("").c_str());
    if (!sys_user || !answers_are_storable(name, std::nullopt, sys_user, std::nullopt)) continue;
    if (_set_user_info(cur_repo, name, std::nullopt, *sys_user, std::nullopt) < 0) {
      std::printf("Error changing %s's system user\n", name);
    }
  }
  return 0;
}

int pass_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (_get_user_info(cur_repo, name, nullptr, nullptr, nullptr) < 0) {
      std::printf("Can't get %s's information\n", name);
      continue;
    }
    answer hash = ask(true, "New password for %s? ", name);
    if (!hash) {
      std::puts("No password is bad. Really. Not changing");
      continue;
    }
    if (_set_user_info(cur_repo, name, *hash, std::nullopt, std::nullopt) < 0) {
      std::printf("Error setting %s's new pass\n", name);
    }
  }
  return 0;
}

}  // namespace rk
