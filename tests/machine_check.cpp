// Runs the native command on one machine file and checks the expected
// bytes and exit code, and that the run left nothing open behind it.
#include <cstdio>
#include <string>

#include "platform/sim/machine_file.h"
#include "test_support.h"

namespace {

// The sim's last trace line after a clean run, up to the library counts.
bool LeftNothingOpen(const std::string& exitLine) {
  const char* clean[] = {" keys=0 ", " sets=0 ", " files=0 ", " heap=0 ", " global=0 ", " locked=0 ",
                         " outside-error-mode=0 ", " error-mode=0"};
  for (const char* part : clean) {
    if (exitLine.find(part) == std::string::npos) return false;
  }
  const bool loadedOnce = exitLine.find("loaded=1 freed=1 ") != std::string::npos;
  const bool neverLoaded = exitLine.find("loaded=0 freed=0 ") != std::string::npos;
  return exitLine.rfind("exit ", 0) == 0 && (loadedOnce || neverLoaded);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: machine_check MACHINE.json\n");
    return 2;
  }
  const std::string path = argv[1];
  MachineExpectation expected;
  try {
    LoadMachineFile(path);
    expected = LoadMachineExpectation(path);
  } catch (const MachineFileError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  const CommandResult result = RunCommand(path);
  bool ok = true;
  if (result.out != expected.stdoutBytes) {
    std::fprintf(stderr, "stdout: expected '%s', got '%s'\n", expected.stdoutBytes.c_str(), result.out.c_str());
    ok = false;
  }
  if (result.exitCode != expected.exitCode) {
    std::fprintf(stderr, "exit code: expected %d, got %d\n", expected.exitCode, result.exitCode);
    ok = false;
  }
  if (!result.err.empty()) {
    std::fprintf(stderr, "stderr not empty: %s\n", result.err.c_str());
    ok = false;
  }
  const std::string exitLine = result.trace.empty() ? "" : result.trace.back();
  if (!LeftNothingOpen(exitLine)) {
    std::fprintf(stderr, "platform state after the run: %s\n", exitLine.c_str());
    ok = false;
  }
  if (exitLine.find(" wprintf=0 ") == std::string::npos && exitLine.find(" wprintf=1 ") == std::string::npos) {
    std::fprintf(stderr, "more than one write: %s\n", exitLine.c_str());
    ok = false;
  }
  return ok ? 0 : 1;
}
