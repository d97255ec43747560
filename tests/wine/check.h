// A minimal check harness for the Windows test programs (no test framework
// is cross-built here). Each failed check prints its place; main returns the
// number of failures.
#pragma once

#include <cstdio>

namespace wine_check {

inline int& Failures() {
  static int failures = 0;
  return failures;
}

inline bool Check(bool ok, const char* what, const char* file, int line) {
  if (!ok) {
    std::printf("FAILED %s:%d: %s\n", file, line, what);
    ++Failures();
  }
  return ok;
}

// Prints the closing line and gives the exit code.
inline int Finish(const char* program) {
  std::printf("%s: %d failed\n", program, Failures());
  return Failures() == 0 ? 0 : 1;
}

}  // namespace wine_check

#define CHECK(condition) ::wine_check::Check((condition), #condition, __FILE__, __LINE__)
