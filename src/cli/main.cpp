#include "cli/run.h"

int main(int argc, char** argv) { return rk::run(argc, argv); }
