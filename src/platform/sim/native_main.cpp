// The simulated runtime's start-up: hands the command line to wmain in
// wide form, as the Windows runtime does, and marks its return in the trace.
#include <cstdio>
#include <vector>

#include "platform/sim/sim.h"

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(SimFromUtf8(argv[i]));
  std::vector<WCHAR*> pointers;
  for (std::u16string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  WCHAR* environment[] = {nullptr};
  Sim();  // a malformed machine file ends the run here at the latest
  SimTrace("wmain enter");
  const int code = wmain(argc, pointers.data(), environment);
  SimTrace("wmain return " + std::to_string(code));
  return code;
}
