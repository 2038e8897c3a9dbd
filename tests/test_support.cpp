#include "test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <algorithm>

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

DeviceRecord RecordWithLetters(char main, char cardA, char cardB) {
  DeviceRecord record{};
  const char letters[3] = {main, cardA, cardB};
  for (int slot = 0; slot < 3; ++slot) {
    if (letters[slot] == 0) continue;
    const std::u16string root = std::u16string(1, static_cast<char16_t>(letters[slot])) + u":\\";
    const std::u16string path = u"\\\\?\\Volume{00000000-0000-0000-0000-00000000000" + root.substr(0, 1) + u"}\\";
    std::copy(root.begin(), root.end(), record.slots[slot].root);
    std::copy(path.begin(), path.end(), record.slots[slot].volumePath);
  }
  return record;
}

std::string CommandPath() { return DEVDRIVES_COMMAND; }

std::string TemporaryFile(const std::string& text) {
  char name[] = "/tmp/devdrives-test-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  close(fd);
  std::ofstream(name, std::ios::binary) << text;
  return name;
}

CommandResult RunCommand(const std::string& machinePath, const std::vector<std::string>& arguments) {
  return RunProgram(DEVDRIVES_COMMAND, machinePath, arguments);
}

CommandResult RunProgram(const std::string& program, const std::string& machinePath,
                         const std::vector<std::string>& arguments) {
  const std::string out = TemporaryFile(""), err = TemporaryFile(""), trace = TemporaryFile("");
  const pid_t child = fork();
  if (child == 0) {
    setenv("DEVDRIVES_MACHINE", machinePath.c_str(), 1);
    setenv("DEVDRIVES_SIM_TRACE", trace.c_str(), 1);
    if (!std::freopen(out.c_str(), "wb", stdout) || !std::freopen(err.c_str(), "wb", stderr)) _exit(127);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  CommandResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadWholeFile(out);
  result.err = ReadWholeFile(err);
  result.trace = Lines(ReadWholeFile(trace));
  std::remove(out.c_str());
  std::remove(err.c_str());
  std::remove(trace.c_str());
  return result;
}
