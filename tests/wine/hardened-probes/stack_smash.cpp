// Under the exes' stack protector and their runtime
// (src/platform/win32_runtime.cpp): "overrun" overruns a stack buffer,
// "guard" prints the guard value this run drew; without an argument it
// exits 0, which shows that it runs at all.
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

extern "C" UINT_PTR __stack_chk_guard;

namespace {

__attribute__((noinline)) int Fill(volatile unsigned count) {
  volatile char buffer[16];
  // Read once: on x64 the argument's home lies above the buffer, and an
  // overrun that rewrites it would run on off the stack.
  const unsigned length = count;
  for (unsigned i = 0; i < length; ++i) buffer[i] = 'x';
  return buffer[0];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && wcscmp(argv[1], L"guard") == 0) {
    printf("%08x\n", static_cast<unsigned>(__stack_chk_guard));
    return 0;
  }
  return Fill(argc > 1 ? 256 : 16) == 'x' ? 0 : 1;
}
