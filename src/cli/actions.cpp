#include "cli/actions.h"

#include <array>

namespace rk {

bool opt_use_cvs = false;
bool opt_ask_hash = false;
std::optional<std::string> opt_root;
int cur_repo = -1;

namespace {

constexpr std::array<action, 8> action_table{{
    {"list", list_action, "list of usernames || nothing"},
    {"add", add_action, "list of usernames"},
    {"del", del_action, "list of usernames"},
    {"email", email_action, "user list"},
    {"rename", rename_action, "list of alternating olduser/newuser"},
    {"misc", misc_action, "list of usernames"},
    {"sys", sys_action, "list of usernames"},
    {"pass", pass_action, "list of usernames"},
}};

}  // namespace

std::span<const action> actions() { return action_table; }

}  // namespace rk
