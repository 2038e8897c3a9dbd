// The native command as a child process: start-up, exit, and the trace of
// the simulated platform it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "test_support.h"

namespace {

int IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  const auto at = std::find(lines.begin(), lines.end(), line);
  return at == lines.end() ? -1 : static_cast<int>(at - lines.begin());
}

struct TemporaryMachine {
  explicit TemporaryMachine(const std::string& json) : path(TemporaryFile(json)) {}
  ~TemporaryMachine() { std::remove(path.c_str()); }
  std::string path;
};

TEST(Command, FreesTheSetupApiOnceAfterWmainReturns) {
  TemporaryMachine machine("{}");
  const CommandResult result = RunCommand(machine.path);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const int loaded = IndexOf(result.trace, "LoadLibraryExW SetupApi.dll");
  const int entered = IndexOf(result.trace, "wmain enter");
  const int returned = IndexOf(result.trace, "wmain return 1");
  const int freed = IndexOf(result.trace, "FreeLibrary SetupApi.dll");
  EXPECT_TRUE(loaded >= 0 && loaded < entered && entered < returned && returned < freed)
      << loaded << " " << entered << " " << returned << " " << freed;
  EXPECT_EQ(std::count(result.trace.begin(), result.trace.end(), "FreeLibrary SetupApi.dll"), 1);
  ASSERT_FALSE(result.trace.empty());
  EXPECT_EQ(result.trace.back().rfind("exit loaded=1 freed=1 keys=0 sets=0 files=0 heap=0 global=0 locked=0", 0), 0u)
      << result.trace.back();
}

TEST(Command, WithoutTheSetupApiFindsNothingAndFreesNothing) {
  TemporaryMachine machine(R"({"setupApi": {"present": false}})");
  const CommandResult result = RunCommand(machine.path);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(IndexOf(result.trace, "LoadLibraryExW SetupApi.dll"), -1);
  EXPECT_EQ(IndexOf(result.trace, "FreeLibrary SetupApi.dll"), -1);
}

// The README's example machine with one top-level field more.
std::string ExampleMachineWith(const std::string& field, const std::string& json) {
  std::ifstream in(EXAMPLE_MACHINE, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.insert(text.find('{') + 1, "\"" + field + "\": " + json + ",");
}

TEST(Command, LoadsTheSetupApiOnlyFromAReadableSystemDirectory) {
  const std::string report = R"([{"iDrive":"H","sdDriveA":"I"},{"iDrive":"E"}])";
  struct Case {
    const char* field;
    std::string json;
    bool loaded;
  };
  const Case cases[] = {
      {"systemDirectory", R"("C:\\WINNT\\system32")", true},
      {"faults", R"([{"call": "GetSystemDirectoryW", "error": 5}])", false},
      {"systemDirectory", "\"C:\\\\" + std::string(300, 'D') + "\"", false},
  };
  for (const Case& c : cases) {
    TemporaryMachine machine(ExampleMachineWith(c.field, c.json));
    const CommandResult result = RunCommand(machine.path);
    EXPECT_EQ(result.out, c.loaded ? report : "") << c.json;
    EXPECT_EQ(result.exitCode, c.loaded ? 0 : 1) << c.json;
    EXPECT_EQ(result.err, "") << c.json;
    EXPECT_EQ(IndexOf(result.trace, "LoadLibraryExW SetupApi.dll") >= 0, c.loaded) << c.json;
    EXPECT_EQ(IndexOf(result.trace, "FreeLibrary SetupApi.dll") >= 0, c.loaded) << c.json;
  }
}

TEST(Command, ArgumentsChangeNothing) {
  TemporaryMachine machine("{}");
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"/?"}, {"--help", "x"}, {"\xc3\xa9", ""}}) {
    const CommandResult result = RunCommand(machine.path, arguments);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
  }
}

TEST(Command, MalformedMachineFileExitsTwoNamingFileAndField) {
  struct Case {
    const char* json;
    const char* field;
  };
  const Case cases[] = {
      {"{", "not valid JSON"},
      {R"({"setupApi": {"present": "yes"}})", "field setupApi.present"},
      {R"({"devices": [{"instanceId": "X", "service": 5}]})", "field devices[0].service"},
      {R"({"drives": "Ce"})", "field drives"},
      {R"({"volumes": [{"guid": "{1}", "files": {"device.xml": {"hex": "0g"}}}]})",
       "field volumes[0].files.device.xml.hex"},
      {R"({"colour": 1})", "field colour"},
  };
  for (const Case& c : cases) {
    TemporaryMachine machine(c.json);
    const CommandResult result = RunCommand(machine.path);
    EXPECT_EQ(result.exitCode, 2) << c.json;
    EXPECT_EQ(result.out, "") << c.json;
    EXPECT_NE(result.err.find(machine.path), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.field), std::string::npos) << result.err;
  }
  const CommandResult missing = RunCommand("/nonexistent/machine.json");
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("/nonexistent/machine.json"), std::string::npos);
}

}  // namespace
