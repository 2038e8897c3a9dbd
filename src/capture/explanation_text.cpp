// The plain-text explanation: ASCII lines of at most 78 characters, so that
// they read in a console window and quote well in an e-mail.
#include <cstring>

#include "capture/explanation_output.h"
#include "capture/json_out.h"
#include "capture/reason_codes.h"

namespace {

const std::size_t kWidth = 78;

class PlainText {
 public:
  explicit PlainText(std::vector<char>& out) : out_(out) {}

  PlainText& operator<<(const char* text) {
    out_.insert(out_.end(), text, text + std::strlen(text));
    return *this;
  }
  PlainText& operator<<(char c) {
    out_.push_back(c);
    return *this;
  }
  PlainText& operator<<(DWORD number) {
    AppendDecimal(out_, number);
    return *this;
  }
  // Text as ASCII; any other character as its \u escape.
  PlainText& operator<<(const CapturedText& text) {
    static const char kDigits[] = "0123456789abcdef";
    for (WCHAR c : text) {
      if (c >= 0x20 && c < 0x7F) {
        out_.push_back(static_cast<char>(c));
        continue;
      }
      *this << "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out_.push_back(kDigits[(c >> shift) & 15]);
    }
    return *this;
  }

  // A sentence broken into lines at spaces, each line indented.
  void Wrapped(const char* indent, const char* first, const char* text) {
    std::size_t column = std::strlen(indent) + std::strlen(first);
    *this << indent << first;
    while (*text != 0) {
      std::size_t word = 0;
      while (text[word] != 0 && text[word] != ' ') ++word;
      if (column > std::strlen(indent) + std::strlen(first) && column + 1 + word > kWidth) {
        *this << '\n' << indent << "  ";
        column = std::strlen(indent) + 2;
      } else if (column > std::strlen(indent) + std::strlen(first)) {
        *this << ' ';
        ++column;
      }
      out_.insert(out_.end(), text, text + word);
      column += word;
      text += word;
      while (*text == ' ') ++text;
    }
    *this << '\n';
  }

 private:
  std::vector<char>& out_;
};

void Reason(PlainText& out, const char* indent, const char* code) {
  const ReasonCode* reason = FindReason(code);
  if (reason == nullptr) return;
  out.Wrapped(indent, "", reason->sentence);
  if (reason->next[0] != 0) out.Wrapped(indent, "Next: ", reason->next);
}

void Letters(PlainText& out, const std::vector<WCHAR>& letters) {
  for (std::size_t i = 0; i < letters.size(); ++i) out << (i == 0 ? "" : ", ") << static_cast<char>(letters[i]) << ':';
}

void Header(PlainText& out, const Explanation& explanation) {
  out << "devdrives-capture " << explanation.toolVersion << ": why each device is or is not reported\n";
  out << "Windows ";
  if (explanation.windowsKnown) {
    out << explanation.windows.major << '.' << explanation.windows.minor << '.' << explanation.windows.build;
    if (!explanation.windows.csdVersion.empty()) out << ' ' << explanation.windows.csdVersion;
  } else {
    out << "version unknown";
  }
  out << ", ANSI code page " << static_cast<DWORD>(explanation.codePage) << '\n';
  if (explanation.identifiersReplaced) {
    out << "Identifiers are replaced by stand-ins: no serial number or GUID below\n"
           "is the real one (--keep-identifiers keeps them).\n";
  }
  out << "Report: " << (explanation.report.stdoutBytes.empty() ? "(nothing)" : "");
  for (char c : explanation.report.stdoutBytes) out << c;
  out << "\nExit code: " << static_cast<DWORD>(explanation.report.exitCode) << '\n';
}

void Tally(PlainText& out, const Explanation& explanation) {
  const DWORD devices = static_cast<DWORD>(explanation.devices.size());
  const DWORD reported = ReportedCount(explanation);
  const DWORD misses = static_cast<DWORD>(explanation.nearMisses.size());
  out << devices << (devices == 1 ? " device" : " devices") << " of ours: " << reported << " reported, "
      << devices - reported << " not; " << misses << (misses == 1 ? " near miss\n" : " near misses\n");
}

void ScanReasons(PlainText& out, const Explanation& explanation) {
  for (const char* code : explanation.scan) {
    out << "\nScan: [" << code << "]\n";
    Reason(out, "  ", code);
  }
}

void KeyLine(PlainText& out, const NotedChild& child) {
  switch (child.key) {
    case ChildKey::FromParentIdPrefix:
      out << "    Key, its ParentIdPrefix value: " << child.matchKey << '\n';
      return;
    case ChildKey::FromInstanceId:
      out << "    Key, the last part of its instance ID: " << child.matchKey << '\n';
      return;
    case ChildKey::NoParentIdPrefix:
      out << "    Key: none, it has no ParentIdPrefix value [no-parent-id-prefix]\n";
      return;
    case ChildKey::EnumKeyUnreadable:
      out << "    Key: none, its registry key could not be read [no-parent-id-prefix]\n";
      return;
    case ChildKey::NoRoomForPath:
      out << "    Key: none, its registry key's path could not be made [no-parent-id-prefix]\n";
      return;
  }
}

void DescriptorLine(PlainText& out, const NotedProbe& probe) {
  out << "    Descriptor test: ";
  if (!probe.probed) {
    out << "not made\n";
    return;
  }
  if (probe.probe == Probe::PathTooLong) {
    out << "the path is too long\n";
    return;
  }
  out << (probe.hiddenRoot ? "hidden root directory, " : "no hidden root directory, ");
  switch (probe.probe) {
    case Probe::NoDescriptor:
      out << "no device.xml (error " << probe.error << ")\n";
      return;
    case Probe::DescriptorIsDirectory:
      out << "device.xml is a directory\n";
      return;
    default:
      break;
  }
  if (probe.typeChars != 0) {
    out << "device.xml names a type of " << static_cast<DWORD>(probe.typeChars) << " characters\n";
  } else {
    out << (probe.descriptorRead ? "device.xml names no type\n" : "device.xml could not be read\n");
  }
}

void VolumeLines(PlainText& out, const NotedDevice& device, const NotedVolume& volume) {
  out << "  Volume of storage device " << static_cast<DWORD>(volume.child + 1) << ": ";
  if (volume.letter == 0) {
    out << "no drive letter [" << volume.reason << "]\n";
    if (!volume.lettersNotInUse.empty()) {
      out << "    A record holds its key at a letter not in use: ";
      Letters(out, volume.lettersNotInUse);
      out << '\n';
    }
    if (volume.sameVolumeAs != kNoVolume) {
      out << "    Its volume is the one of storage device " << static_cast<DWORD>(device.volumes[volume.sameVolumeAs].child + 1)
          << ", at " << static_cast<char>(device.volumes[volume.sameVolumeAs].letter) << ":\n";
    } else if (!volume.namedVolume.empty()) {
      out << "    Its volume has no drive letter: " << volume.namedVolume << '\n';
    }
    return;
  }
  out << static_cast<char>(volume.letter) << ": " << (volume.volumePath.empty() ? "(no volume name)" : "");
  out << volume.volumePath << '\n';
  if (!volume.volumePath.empty()) DescriptorLine(out, volume.probe);
  const char* slot = SlotName(volume.slot);
  out << "    Went to: " << (slot != nullptr ? slot : "no slot") << " [" << volume.reason << "]\n";
}

void DeviceSection(PlainText& out, const Explanation& explanation, std::size_t at) {
  const NotedDevice& device = explanation.devices[at];
  out << "\nDevice " << static_cast<DWORD>(at + 1) << " of " << static_cast<DWORD>(explanation.devices.size()) << ": "
      << device.instanceId << '\n';
  out << "  Service: ";
  if (device.serviceRead) {
    out << device.serviceName << '\n';
  } else {
    out << "could not be read\n";
  }
  const bool reported = std::strcmp(device.reason, "reported") == 0;
  out << "  Verdict: " << (reported ? "reported" : "not reported") << " [" << device.reason << "]\n";
  if (!reported) Reason(out, "    ", device.reason);
  if (std::strcmp(device.reason, "no-letter") == 0 && !explanation.fixedMediaLetters.empty()) {
    out << "    Disks with fixed media are known by their disk signature, which\n"
           "    devdrives cannot tie to a device: ";
    Letters(out, explanation.fixedMediaLetters);
    out << '\n';
  }
  for (std::size_t i = 0; i < device.children.size(); ++i) {
    out << "  Storage device " << static_cast<DWORD>(i + 1) << ": " << device.children[i].instanceId << '\n';
    KeyLine(out, device.children[i]);
  }
  if (device.children.empty()) out << "  Storage devices: none found\n";
  for (const NotedVolume& volume : device.volumes) VolumeLines(out, device, volume);
}

void NearMisses(PlainText& out, const Explanation& explanation) {
  if (explanation.nearMisses.empty()) return;
  out << "\nNear misses\n";
  for (const NearMiss& miss : explanation.nearMisses) {
    out << "  " << miss.instanceId << " [" << miss.reason << "]\n";
    out << "    Hardware ID: " << miss.hardwareId << '\n';
    Reason(out, "    ", miss.reason);
  }
}

}  // namespace

void WriteExplanationText(const Explanation& explanation, std::vector<char>& out) {
  PlainText text(out);
  Header(text, explanation);
  Tally(text, explanation);
  ScanReasons(text, explanation);
  for (std::size_t at = 0; at < explanation.devices.size(); ++at) DeviceSection(text, explanation, at);
  NearMisses(text, explanation);
}
