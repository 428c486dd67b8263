#include "cli/actions.h"

#include <array>

namespace rk {

bool opt_use_cvs = false;
bool opt_ask_hash = false;
std::optional<std::string> opt_root;
int cur_repo = -1;

namespace {

constexpr std::array<action, 8> action_table{{
    {"list", list_action, "list of usernames || nothing", open_mode::reading},
    {"add", add_action, "list of usernames", open_mode::changing},
    {"del", del_action, "list of usernames", open_mode::changing},
    {"email", email_action, "user list", open_mode::changing},
    {"rename", rename_action, "list of alternating olduser/newuser", open_mode::changing},
    {"misc", misc_action, "list of usernames", open_mode::changing},
    {"sys", sys_action, "list of usernames", open_mode::changing},
    {"pass", pass_action, "list of usernames", open_mode::changing},
}};

}  // namespace

std::span<const action> actions() { return action_table; }

}  // namespace rk
