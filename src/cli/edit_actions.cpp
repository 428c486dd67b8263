// The actions that change users without asking anything: del and rename.
#include <cstdio>

#include "cli/actions.h"
#include "repodb/database.h"
#include "repodb/readable_text.h"

namespace rk {

int del_action(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (_del_user(cur_repo, argv[i]) < 0) {
      std::printf("Error deleting %s\n", printable(argv[i]).c_str());
    }
  }
  return 0;
}

int rename_action(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* old_name = argv[i];
    const char* new_name = argv[i + 1];
    if (auto defect = name_defect(new_name)) {
      std::printf("Refusing rename of \"%s\" to \"%s\": the new name %.*s\n",
                  printable(old_name).c_str(), printable(new_name).c_str(),
                  static_cast<int>(defect->size()), defect->data());
      continue;
    }
    if (_rename_user(cur_repo, old_name, new_name) < 0) {
      std::printf("Error %s->%s\n", printable(old_name).c_str(), printable(new_name).c_str());
    }
  }
  return 0;
}

}  // namespace rk
