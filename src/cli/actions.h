// The actions the tool can run, and the state they share.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "repodb/database.h"

namespace rk {

// An action gets its name as argv[0] and the user's names after it, and
// returns the exit status.
using action_fn = int (*)(int argc, char** argv);

struct action {
  const char* name;
  action_fn handler;
  const char* arguments;
  // Whether the action may change users, and so must lock them first.
  open_mode mode;
};

std::span<const action> actions();

int list_action(int argc, char** argv);
int add_action(int argc, char** argv);
int del_action(int argc, char** argv);
int email_action(int argc, char** argv);
int rename_action(int argc, char** argv);
int misc_action(int argc, char** argv);
int sys_action(int argc, char** argv);
int pass_action(int argc, char** argv);

// Set by the options.
extern bool opt_use_cvs;
extern bool opt_ask_hash;
extern std::optional<std::string> opt_root;
// The repository every action works on.
extern int cur_repo;

}  // namespace rk
