// devdrives-capture: records what the scan reads on this machine and writes
// it, with the command's own result and its explanation, as one machine
// file; with --explain, writes only the explanation, as text or JSON.
// Identifiers are replaced unless --keep-identifiers says otherwise.
#include <stdio.h>

#include "capture/anonymizer.h"
#include "capture/capture_run.h"
#include "capture/explanation_output.h"
#include "capture/noted_scan.h"
#include "capture/machine_writer.h"
#include "platform/text.h"
#include "volumes/device_xml_reader.h"

#ifndef DEVDRIVES_VERSION
#define DEVDRIVES_VERSION "unknown"
#endif

namespace {

const char kUsage[] =
    "usage: devdrives-capture [--keep-identifiers | --anonymize] [--output FILE]\n"
    "       devdrives-capture --explain [--json] [--keep-identifiers | --anonymize] [--output FILE]\n";

struct Options {
  bool keepIdentifiers = false;
  bool anonymize = false;  // the default, said explicitly
  bool explain = false;
  bool json = false;
  const WCHAR* output = nullptr;
};

bool ParseArgument(int argc, WCHAR** argv, int& i, Options& options) {
  const WCHAR* argument = argv[i];
  bool* flag = TextEqual(argument, WSTR("--keep-identifiers")) ? &options.keepIdentifiers
               : TextEqual(argument, WSTR("--anonymize"))      ? &options.anonymize
               : TextEqual(argument, WSTR("--explain"))        ? &options.explain
               : TextEqual(argument, WSTR("--json"))           ? &options.json
                                                               : nullptr;
  if (flag != nullptr && !*flag) return *flag = true;
  if (TextEqual(argument, WSTR("--output")) && i + 1 < argc && options.output == nullptr) {
    options.output = argv[++i];
    return true;
  }
  return false;
}

bool ParseArguments(int argc, WCHAR** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    if (!ParseArgument(argc, argv, i, options)) return false;
  }
  return !(options.keepIdentifiers && options.anonymize) && (options.explain || !options.json);
}

CaptureStamp Stamp() {
  CaptureStamp stamp;
  stamp.version = DEVDRIVES_VERSION;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExW(&version)) {
    stamp.windowsKnown = true;
    const WCHAR* csd = version.szCSDVersion;
    stamp.windows = CapturedVersion{version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber,
                                    version.dwPlatformId, CapturedText(csd, csd + TextLengthWithin(csd, 128))};
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  stamp.year = now.wYear;
  stamp.month = now.wMonth;
  stamp.day = now.wDay;
  return stamp;
}

// JSON goes to the file, or to standard output, in binary mode: in text
// mode each LF would reach it as CR LF, and a redirected capture would
// differ from --output's. The text explanation is for a console and an
// e-mail, in the system's own line ends.
FILE* OpenOutput(const WCHAR* path, bool binary) {
  if (path != nullptr) return _wfopen(path, binary ? WSTR("wb") : WSTR("w"));
  return _setmode(_fileno(stdout), binary ? _O_BINARY : _O_TEXT) != -1 ? stdout : nullptr;
}

// The whole file in one write; false when any of it did not reach the file.
bool Write(const std::vector<char>& text, const WCHAR* path, bool binary) {
  FILE* file = OpenOutput(path, binary);
  if (file == nullptr) return false;
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  written = fflush(file) == 0 && written;
  if (path != nullptr) written = fclose(file) == 0 && written;
  return written;
}

// An output file on a drive without a medium fails without a dialog.
bool WriteAll(const std::vector<char>& text, const WCHAR* path, bool binary) {
  const UINT previousMode = SetErrorMode(kVolumeErrorMode);
  const bool written = Write(text, path, binary);
  SetErrorMode(previousMode);
  return written;
}

// A capture replayed from an anonymized file holds stand-ins already, and
// replacing them again would give other ones.
bool ReplacesIdentifiers(const Options& options) { return !options.keepIdentifiers && !MachineIdentifiersReplaced(); }

Explanation ExplainRun(const CaptureRun& run, const CaptureStamp& stamp, const Options& options) {
  Explanation explanation = Explain(TakeNotes(), run.machine, run.result);
  explanation.toolVersion = stamp.version;
  explanation.windowsKnown = run.machine.versionAsked ? run.machine.versionRead : stamp.windowsKnown;
  explanation.windows = run.machine.versionAsked ? run.machine.version : stamp.windows;
  explanation.identifiersReplaced = !options.keepIdentifiers || MachineIdentifiersReplaced();
  return explanation;
}

}  // namespace

int wmain(int argc, WCHAR** argv, WCHAR**) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    fputs(kUsage, stderr);
    return 2;
  }
  CaptureRun run = RunCapture();
  const CaptureStamp stamp = Stamp();
  Explanation explanation = ExplainRun(run, stamp, options);
  if (ReplacesIdentifiers(options)) {
    Anonymize(run.machine, UsbParentIdPrefixes(run.machine), IdentifyingTexts(explanation));
  }
  std::vector<char> json;
  if (!options.explain || options.json) WriteExplanationJson(explanation, json);
  std::vector<char> text;
  if (!options.explain) {
    WriteMachineFile(run.machine, run.result, stamp, text, json);
  } else if (options.json) {
    text = json;
    text.push_back('\n');
  } else {
    WriteExplanationText(explanation, text);
  }
  if (!WriteAll(text, options.output, !options.explain || options.json)) {
    fputs(options.output != nullptr ? "devdrives-capture: cannot write the output file\n"
                                    : "devdrives-capture: cannot write to standard output\n",
          stderr);
    return 1;
  }
  return 0;
}
