#include "fuzz/fuzz_input.h"

#include <cstdio>
#include <cstdlib>

namespace fuzzing {

void failCheck(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
  std::abort();
}

}  // namespace fuzzing
