// Overruns a stack buffer when given an argument, under the exes' stack
// protector and their runtime (src/platform/win32_runtime.cpp); without one
// it exits 0, which shows that it runs at all.
#include <windows.h>

namespace {

__attribute__((noinline)) int Fill(volatile unsigned count) {
  volatile char buffer[16];
  for (unsigned i = 0; i < count; ++i) buffer[i] = 'x';
  return buffer[0];
}

}  // namespace

int wmain(int argc, wchar_t**) { return Fill(argc > 1 ? 256 : 16) == 'x' ? 0 : 1; }
