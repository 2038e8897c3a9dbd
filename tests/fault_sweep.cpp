// Every platform call the command makes on the machine files, made to fail
// in turn with each error code the scan treats specially and one generic
// code: the run must still end, leave nothing open and print a well-formed
// report or nothing at all. And allocations failing in turn, in a child.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/sim/machine_file.h"
#include "platform/sim/sim.h"
#include "scan_checks.h"

namespace {

struct Outcome {
  std::string out;
  int exitCode = -1;
};

// The whole command in this process, from wmain on.
Outcome RunInProcess(const SimulatedMachine& machine) {
  SimInstall(machine);
  testing::internal::CaptureStdout();
  const int code = wmain(0, nullptr, nullptr);
  std::fflush(stdout);
  return {testing::internal::GetCapturedStdout(), code};
}

std::string Problems(const Outcome& outcome, DWORD driveMask) {
  std::string problems = ReportProblem(outcome.out, outcome.exitCode, driveMask) + PlatformProblem();
  if (Sim().counters.wprintfCalls != (outcome.exitCode == 0 ? 1 : 0)) problems += " writes: " + SimCountersLine();
  return problems;
}

// The machine files of the scenario tests that this process can run: the
// Setup API binding here was made at start-up, with the library present.
std::vector<std::string> SweptMachines() {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(MACHINES_DIR)) {
    if (entry.path().extension() != ".json") continue;
    const SimulatedMachine machine = LoadMachineFile(entry.path().string());
    if (machine.setupApiPresent && machine.missingEntryPoints.empty()) paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

const DWORD kErrorCodes[] = {ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_DATA, ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS,
                             ERROR_NOT_READY,           ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED};

class FaultSweep : public testing::TestWithParam<std::string> {};

TEST_P(FaultSweep, EveryCallFailingInTurnEndsCleanly) {
  const SimulatedMachine machine = LoadMachineFile(GetParam());
  const MachineExpectation expected = LoadMachineExpectation(GetParam());
  const Outcome clean = RunInProcess(machine);
  EXPECT_EQ(clean.out, expected.stdoutBytes);
  EXPECT_EQ(clean.exitCode, expected.exitCode);
  EXPECT_EQ(Problems(clean, machine.driveMask), "");
  const auto calls = Sim().counters.calls;
  int totalCalls = 0;
  for (const auto& [call, count] : calls) totalCalls += count;

  int runs = 0, failures = 0;
  for (const auto& [call, count] : calls) {
    if (call == "SetErrorMode") continue;  // it cannot fail
    for (int nth = 1; nth <= count; ++nth) {
      for (DWORD error : kErrorCodes) {
        SimulatedMachine faulty = machine;
        faulty.faults.push_back({call, static_cast<DWORD>(nth), error});
        // A retry loop without bound would cross this; none is needed.
        faulty.callLimit = static_cast<DWORD>(10 * totalCalls + 100);
        const std::string problems = Problems(RunInProcess(faulty), machine.driveMask);
        ++runs;
        if (!problems.empty() && ++failures <= 10) {
          ADD_FAILURE() << call << " call " << nth << " failing with " << error << ": " << problems;
        }
      }
    }
  }
  EXPECT_EQ(failures, 0) << "of " << runs << " runs";
}

std::string TestName(const testing::TestParamInfo<std::string>& info) {
  std::string name = std::filesystem::path(info.param).stem().string();
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Machines, FaultSweep, testing::ValuesIn(SweptMachines()), TestName);

struct ChildOutcome {
  std::string out;
  std::string err;
  int status = 0;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  return text.str();
}

// The command with failing allocations (ALLOC_FAIL_COMMAND), its nth
// allocation after start-up failing; 0 lets every one succeed.
ChildOutcome RunFailingAllocation(const std::string& machinePath, long nth) {
  char out[] = "/tmp/devdrives-alloc-out-XXXXXX", err[] = "/tmp/devdrives-alloc-err-XXXXXX";
  close(mkstemp(out));
  close(mkstemp(err));
  const pid_t child = fork();
  if (child == 0) {
    setenv("DEVDRIVES_MACHINE", machinePath.c_str(), 1);
    setenv("DEVDRIVES_FAIL_ALLOCATION", std::to_string(nth).c_str(), 1);
    if (!std::freopen(out, "wb", stdout) || !std::freopen(err, "wb", stderr)) _exit(127);
    execl(ALLOC_FAIL_COMMAND, ALLOC_FAIL_COMMAND, static_cast<char*>(nullptr));
    _exit(127);
  }
  ChildOutcome outcome;
  waitpid(child, &outcome.status, 0);
  outcome.out = Slurp(out);
  outcome.err = Slurp(err);
  return outcome;
}

// Each run is a process of its own, so two realistic machines stand for all.
class AllocationFailure : public testing::TestWithParam<std::string> {};

TEST_P(AllocationFailure, EndsTheRunWithoutOutput) {
  const std::string path = std::string(MACHINES_DIR) + "/" + GetParam() + ".json";
  const MachineExpectation expected = LoadMachineExpectation(path);
  const ChildOutcome clean = RunFailingAllocation(path, 0);
  ASSERT_TRUE(WIFEXITED(clean.status)) << clean.err;
  EXPECT_EQ(WEXITSTATUS(clean.status), expected.exitCode);
  EXPECT_EQ(clean.out, expected.stdoutBytes);
  long allocations = 0;
  ASSERT_EQ(std::sscanf(clean.err.c_str(), "allocations %ld", &allocations), 1) << clean.err;
  for (long nth = 1; nth <= allocations; ++nth) {
    const ChildOutcome failed = RunFailingAllocation(path, nth);
    EXPECT_TRUE(WIFSIGNALED(failed.status) && WTERMSIG(failed.status) == SIGABRT)
        << "allocation " << nth << ": status " << failed.status << " " << failed.err;
    EXPECT_EQ(failed.out, "") << "allocation " << nth;
  }
}

INSTANTIATE_TEST_SUITE_P(Machines, AllocationFailure,
                         testing::Values("two-devices-on-windows-10", "card-reader-on-windows-xp"), TestName);

}  // namespace
