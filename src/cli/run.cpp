#include "cli/run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "cli/actions.h"
#include "cli/output.h"
#include "cvs/signal_cleanup.h"
#include "repodb/database.h"
#include "repodb/readable_text.h"

namespace rk {
namespace {

constexpr const char* default_root = ":local:/usr/local/cvsroot";

[[noreturn]] void out_of_memory() {
  // Temporary files may hold password hashes.
  remove_temp_files_now();
  std::fputs("Can't allocate memory\n", stdout);
  std::exit(1);
}

const char* invoked_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

[[noreturn]] void usage(const char* program) {
  std::printf("Usage: \n%s [options] [action]\n\n", invoked_name(program));
  std::fputs(
      "options:\n"
      "\t-c - Use cvs(1) to checkout the password/users files\n"
      "\t-C - Ask for precomputed hashes instead of passwords\n"
      "\t-h - Get this help\n"
      "\t-d [repository] - Set the repository's location\n"
      "\t-v - Show current version of rosterkeep\n"
      "actions:\n"
      "\tName\tArguments\n"
      "\t----\t---------\n",
      stdout);
  for (const action& row : actions()) std::printf("\t%s\t%s\n", row.name, row.arguments);
  std::exit(finish_output(1));
}

// Where the options end: at the first argument that is not one, or just
// after "--". A getopt that permutes (glibc's) would otherwise take an option
// written after the action name as one of ours.
int options_end(int argc, char** argv) {
  int at = 1;
  while (at < argc) {
    std::string_view argument = argv[at];
    if (argument == "--") return at + 1;
    if (argument.size() < 2 || argument[0] != '-') return at;
    // "-d" (alone or last in a cluster) takes the next argument as its value.
    at += argument.find('d', 1) == argument.size() - 1 ? 2 : 1;
  }
  return argc;
}

void parse_options(int argc, char** argv) {
  int option = 0;
  while ((option = getopt(options_end(argc, argv), argv, "cCd:vh")) != -1) {
    switch (option) {
      case 'c': opt_use_cvs = true; break;
      case 'C': opt_ask_hash = true; break;
      case 'd': opt_root = optarg; break;
      case 'v':
        std::printf("%s %s\n", "rosterkeep", "1.0.3");
        std::exit(finish_output(0));
      default: usage(argv[0]);
    }
  }
}

const action* find_action(std::string_view name) {
  for (const action& row : actions()) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

}  // namespace

int run(int argc, char** argv) {
  std::set_new_handler(out_of_memory);
  install_signal_cleanup();
  parse_options(argc, argv);
  if (optind >= argc) usage(argv[0]);
  const action* chosen = find_action(argv[optind]);
  if (!chosen) {
    std::printf("Invalid action %s\n", printable(argv[optind]).c_str());
    usage(argv[0]);
  }
  bool root_from_environment = !opt_root;
  if (!opt_root) {
    const char* from_environment = std::getenv("CVSROOT");
    opt_root = from_environment ? from_environment : default_root;
  }

  cur_repo = repo_open(*opt_root, opt_use_cvs, chosen->mode);
  if (cur_repo < 0) {
    std::printf("Unable to open %s\n", printable(*opt_root).c_str());
    if (opt_root->empty()) {
      std::fprintf(stderr, "The repository location is empty (%s); give one with -d\n",
                   root_from_environment ? "CVSROOT is set to an empty value" : "-d \"\"");
    }
    return finish_output(1);
  }
  int status = chosen->handler(argc - optind, argv + optind);
  if (repo_close(cur_repo) < 0) {
    std::puts("Unable to close repository");
    status = 1;
  }
  return finish_output(status);
}

}  // namespace rk
