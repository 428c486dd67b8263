// Runs the fuzz target once on each file named: the corpus and every input
// that once failed, in builds without the fuzzer.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  // What the readers report of bad input is of no interest here.
  if (!std::freopen("/dev/null", "w", stderr)) return 1;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) return 1;
    std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
  }
  std::printf("%d inputs replayed\n", argc - 1);
  return 0;
}
