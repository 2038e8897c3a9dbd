// devdrives-capture [--anonymize] [--output FILE]: records what the scan
// reads on this machine and writes it, with the command's own result, as
// one machine file.
#include <stdio.h>

#include "capture/anonymizer.h"
#include "capture/capture_run.h"
#include "capture/machine_writer.h"
#include "platform/text.h"
#include "volumes/device_xml_reader.h"

#ifndef DEVDRIVES_VERSION
#define DEVDRIVES_VERSION "unknown"
#endif

namespace {

const char kUsage[] = "usage: devdrives-capture [--anonymize] [--output FILE]\n";

struct Options {
  bool anonymize = false;
  const WCHAR* output = nullptr;
};

bool ParseArguments(int argc, WCHAR** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    if (TextEqual(argv[i], WSTR("--anonymize"))) {
      options.anonymize = true;
    } else if (TextEqual(argv[i], WSTR("--output")) && i + 1 < argc && options.output == nullptr) {
      options.output = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

CaptureStamp Stamp() {
  CaptureStamp stamp;
  stamp.version = DEVDRIVES_VERSION;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExW(&version)) {
    stamp.windowsKnown = true;
    stamp.windows = CapturedVersion{version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber,
                                    version.dwPlatformId, {}};
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  stamp.year = now.wYear;
  stamp.month = now.wMonth;
  stamp.day = now.wDay;
  return stamp;
}

// The file, or standard output in binary mode: in text mode each LF would
// reach it as CR LF, and a redirected capture would differ from --output's.
FILE* OpenOutput(const WCHAR* path) {
  if (path != nullptr) return _wfopen(path, WSTR("wb"));
  return _setmode(_fileno(stdout), _O_BINARY) != -1 ? stdout : nullptr;
}

// The whole file in one write; false when any of it did not reach the file.
bool Write(const std::vector<char>& text, const WCHAR* path) {
  FILE* file = OpenOutput(path);
  if (file == nullptr) return false;
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  written = fflush(file) == 0 && written;
  if (path != nullptr) written = fclose(file) == 0 && written;
  return written;
}

// An output file on a drive without a medium fails without a dialog.
bool WriteAll(const std::vector<char>& text, const WCHAR* path) {
  const UINT previousMode = SetErrorMode(kVolumeErrorMode);
  const bool written = Write(text, path);
  SetErrorMode(previousMode);
  return written;
}

}  // namespace

int wmain(int argc, WCHAR** argv, WCHAR**) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    fputs(kUsage, stderr);
    return 2;
  }
  CaptureRun run = RunCapture();
  if (options.anonymize) Anonymize(run.machine, UsbParentIdPrefixes(run.machine));
  std::vector<char> text;
  WriteMachineFile(run.machine, run.result, Stamp(), text);
  if (!WriteAll(text, options.output)) {
    fputs(options.output != nullptr ? "devdrives-capture: cannot write the output file\n"
                                    : "devdrives-capture: cannot write to standard output\n",
          stderr);
    return 1;
  }
  return 0;
}
