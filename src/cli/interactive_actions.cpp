// The actions that ask questions for each name: add, email, misc, sys, pass.
// Everything shown that came from input has its control characters escaped.
#include <cstdio>
#include <string>

#include "cli/actions.h"
#include "cli/ask.h"
#include "cli/password_hash.h"
#include "repodb/database.h"
#include "repodb/readable_text.h"

namespace rk {
namespace {

using answer = std::optional<std::string>;

// The hash of a locked account: no password matches it.
constexpr const char* locked_hash = "!";

field_arg as_field(const answer& a) { return a ? field_arg(*a) : std::nullopt; }

std::string shown(std::string_view text) { return printable(text); }

// Tells the user why nothing of name is changed.
void refuse(const char* name, const char* what, std::string_view defect) {
  std::printf("Refusing user \"%s\": %s %.*s\n", shown(name).c_str(), what,
              static_cast<int>(defect.size()), defect.data());
}

bool name_is_storable(const char* name) {
  auto defect = name_defect(name);
  if (defect) refuse(name, "the name", *defect);
  return !defect;
}

// The answer to the password question of add and misc; refusal says why
// the answer cannot be stored (told once every question was answered).
struct new_password {
  answer hash;
  const char* refused_field = nullptr;
  std::string_view refusal;
  password_answer typed{};
};

// A typed hash with -C, else a password read without echo.
new_password ask_new_password() {
  if (!opt_ask_hash) {
    password_answer typed = ask_password("Password? ");
    if (typed.refused) return {std::nullopt, "the password", "contains a control character"};
    return {typed.hash, nullptr, {}, typed};
  }
  answer hash = ask(false, "Password hash? ");
  if (!hash) return {};
  if (auto defect = hash_defect(*hash)) return {std::nullopt, "the password hash", *defect};
  if (!is_known_hash_form(hash->c_str())) {
    return {std::nullopt, "the password hash", "is not in a form the system's crypt recognises"};
  }
  return {hash, nullptr, {}};
}

bool password_is_storable(const char* name, const new_password& password) {
  if (password.refused_field) refuse(name, password.refused_field, password.refusal);
  return !password.refused_field;
}

// Whether the answers can be written and read back unchanged, and used by
// CVS (which splits a line at every ':'); refuses name when not.
bool answers_are_storable(const char* name, const answer& sys_user, const answer& email) {
  std::optional<std::string_view> defect;
  if (sys_user && sys_user->find(':') != std::string::npos) {
    defect = "contains ':'";
    refuse(name, "the system user", *defect);
  } else if (sys_user && (defect = answer_defect(*sys_user))) {
    refuse(name, "the system user", *defect);
  } else if (email && (defect = answer_defect(*email))) {
    refuse(name, "the e-mail address", *defect);
  }
  return !defect;
}

// The traditional DES hash counts only a password's first 8 characters.
void warn_if_cut(const char* name, const password_answer& password) {
  if (password.typed_length <= 8 || !password.hash || password.hash->starts_with('$')) return;
  std::fprintf(stderr,
               "Warning: only the first 8 characters of %s's password count in its DES hash; for "
               "a stronger hash, make one with openssl passwd -6 -stdin and store it with misc "
               "-C\n",
               shown(name).c_str());
}

bool exists(const char* name) { return _get_user_info(cur_repo, name, nullptr, nullptr, nullptr) == 0; }

}  // namespace

int add_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (!name_is_storable(name)) continue;
    std::printf("User %s\n", shown(name).c_str());
    new_password password = ask_new_password();
    answer sys_user = ask(false, "System user? [%s] ", "");
    answer email = ask(false, "Email address? [%s] ", "");
    if (!password_is_storable(name, password) || !answers_are_storable(name, sys_user, email)) {
      continue;
    }
    bool created = !exists(name);
    if (_set_user_info(cur_repo, name, as_field(password.hash), as_field(sys_user),
                       as_field(email)) < 0) {
      std::printf("Error setting %s's new info\n", shown(name).c_str());
    } else if (warn_if_cut(name, password.typed); created && !password.hash) {
      // Anonymous read-only access relies on such users; a typo must not.
      std::printf("Warning: %s has no password, so any password will be accepted\n",
                  shown(name).c_str());
    }
  }
  return 0;
}

int email_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (!name_is_storable(name)) continue;
    answer email = ask(false, "New email for %s? ", shown(name).c_str());
    if (!answers_are_storable(name, std::nullopt, email)) continue;
    // A user that only an address made (a typo, say) must not let anyone in.
    field_arg hash = exists(name) ? std::nullopt : field_arg(locked_hash);
    if (_set_user_info(cur_repo, name, hash, std::nullopt, as_field(email)) < 0) {
      std::printf("Error setting email to %s\n", shown(email.value_or("")).c_str());
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
      std::printf("error getting %s's info\n", shown(name).c_str());
      continue;
    }
    std::printf("User %s\n", shown(name).c_str());
    new_password password = ask_new_password();
    answer sys_user = ask(false, "System user? [%s] ", shown(old_sys_user.value_or("")).c_str());
    answer email = ask(false, "Email address? [%s] ", shown(old_email.value_or("")).c_str());
    if (!password_is_storable(name, password) || !answers_are_storable(name, sys_user, email)) {
      continue;
    }
    if (_set_user_info(cur_repo, name, as_field(password.hash), as_field(sys_user),
                       as_field(email)) < 0) {
      std::printf("Error setting %s's new info\n", shown(name).c_str());
    } else {
      warn_if_cut(name, password.typed);
    }
  }
  return 0;
}

int sys_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    answer old_sys_user;
    if (_get_user_info(cur_repo, name, nullptr, &old_sys_user, nullptr) < 0) {
      std::printf("Can't get %s's information\n", shown(name).c_str());
      continue;
    }
    answer sys_user = ask(false, "New system user for %s? [%s] ? ", shown(name).c_str(),
                          shown(old_sys_user.value_or("")).c_str());
    if (!sys_user || !answers_are_storable(name, sys_user, std::nullopt)) continue;
    if (_set_user_info(cur_repo, name, std::nullopt, *sys_user, std::nullopt) < 0) {
      std::printf("Error changing %s's system user\n", shown(name).c_str());
    }
  }
  return 0;
}

int pass_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (!exists(name)) {
      std::printf("Can't get %s's information\n", shown(name).c_str());
      continue;
    }
    password_answer password = ask_password("New password for %s? ", shown(name).c_str());
    if (password.refused) {
      refuse(name, "the password", "contains a control character");
      continue;
    }
    if (!password.hash) {
      std::puts("No password is bad. Really. Not changing");
      continue;
    }
    // Piped in with -C, a ready-made hash would become the password, and
    // anyone who saw the hash could log in.
    if (password.looks_like_hash) {
      std::printf("Refusing user \"%s\": the password has the form of a crypt hash, and -C does "
                  "not apply to pass; store a hash with misc -C\n",
                  shown(name).c_str());
      continue;
    }
    if (_set_user_info(cur_repo, name, *password.hash, std::nullopt, std::nullopt) < 0) {
      std::printf("Error setting %s's new pass\n", shown(name).c_str());
    } else {
      warn_if_cut(name, password);
    }
  }
  return 0;
}

}  // namespace rk
