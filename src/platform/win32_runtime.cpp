// The exe's own ends for the C++ runtime's failure paths. The command neither
// throws nor catches: the only exceptions that can arise are the standard
// lists' out-of-memory and too-long errors, which nothing catches, so the run
// ends before any output with exit code 3. Ending it here the same way
// keeps that, without linking the unwinder, the exception classes and the
// terminate handler that demangles and prints the exception's name to
// standard error: they were nine tenths of the exe. _exit rather than abort,
// whose "abnormal program termination" would reach the console.
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void EndRun() { _exit(3); }

}  // namespace

namespace std {
void __throw_bad_alloc() { EndRun(); }
void __throw_bad_array_new_length() { EndRun(); }
void __throw_length_error(const char*) { EndRun(); }
}  // namespace std

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  EndRun();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

// The stack protector's guard and failure path, in place of libssp's: its
// guard set-up loads the system's crypto provider, which (measured under
// Wine) loads a version.dll planted beside the exe, and its failure path
// writes to the console and then raises an illegal instruction, which gets
// the crash dialog.
extern "C" {

// Drawn afresh at start-up, before the first guarded frame is entered.
UINT_PTR __stack_chk_guard = 0x2B992DDF;

// A smashed frame ends the process at once, as Windows' own guard does.
[[noreturn]] void __stack_chk_fail() {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  _exit(3);  // not reached: the process ends inside TerminateProcess
}

}  // extern "C"

namespace {

// What differs from run to run without a library load: the time, the
// counter, the process and thread, and where the randomized stack lies.
// Unguarded itself, as it changes the value a guarded frame compares.
__attribute__((constructor(101), no_stack_protector)) void DrawStackGuard() {
  FILETIME time;
  LARGE_INTEGER counter;
  GetSystemTimeAsFileTime(&time);
  QueryPerformanceCounter(&counter);
  const UINT_PTR guard = time.dwLowDateTime ^ time.dwHighDateTime ^ GetCurrentProcessId() ^
                         (GetCurrentThreadId() << 16) ^ GetTickCount() ^ static_cast<UINT_PTR>(counter.QuadPart) ^
                         static_cast<UINT_PTR>(counter.QuadPart >> 32) ^ reinterpret_cast<UINT_PTR>(&time);
  if (guard != 0) __stack_chk_guard = guard;
}

}  // namespace
