// The native command whose nth allocation after start-up fails with
// std::bad_alloc (DEVDRIVES_FAIL_ALLOCATION=n). With n = 0 none fails and
// the number made during the run goes to standard error, for the caller to
// fail each in turn. Standard output is unbuffered, so that a write made
// before the failure cannot vanish with the aborted process.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/sim/sim.h"

namespace {

bool counting = false;
long allocations = 0;
long failAt = 0;

}  // namespace

void* operator new(std::size_t size) {
  if (counting && ++allocations == failAt) throw std::bad_alloc();
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const char* nth = std::getenv("DEVDRIVES_FAIL_ALLOCATION");
  failAt = nth != nullptr ? std::atol(nth) : 0;
  Sim();  // loads the machine before counting starts
  WCHAR* noArguments[] = {nullptr};
  counting = true;
  const int code = wmain(0, noArguments, noArguments);
  counting = false;
  if (failAt == 0) std::fprintf(stderr, "allocations %ld\n", allocations);
  return code;
}
