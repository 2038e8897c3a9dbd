#include "capture_support.h"

#include <cstdio>

#include "capture/machine_writer.h"

namespace {

std::u16string Text(const CapturedText& text) { return std::u16string(text.begin(), text.end()); }

void Property(const CapturedProperty& property, std::optional<SimBytes>& bytes, DWORD& error) {
  if (!property.read) return;
  if (property.error == ERROR_SUCCESS) {
    bytes = property.bytes;
  } else {
    error = property.error;
  }
}

// The entries a probed volume shows: what answered, as it answered.
SimVolume Volume(const CapturedVolume& captured) {
  SimVolume volume;
  volume.guid = Text(captured.guid);
  bool notReady = !captured.paths.empty();
  bool denied = !captured.paths.empty();
  for (const CapturedPath& path : captured.paths) {
    notReady = notReady && path.error == ERROR_NOT_READY;
    denied = denied && path.error == ERROR_ACCESS_DENIED;
    if (path.attributes == INVALID_FILE_ATTRIBUTES) continue;
    SimFile file;
    file.directory = (path.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!file.directory && UnreadByTheReader(path)) {
      file.reportedSize = kUnreadableFileSize;
    } else if (!file.directory) {
      file.bytes = path.contentKept ? path.content : StandInDescriptor(path.valueChars);
    }
    volume.entries[Text(path.inside)] = file;
  }
  if (notReady || denied) {
    volume.entries.clear();
    volume.medium = notReady ? SimMedium::NoMedium : SimMedium::AccessDenied;
  }
  return volume;
}

// UTF-16 without a lone surrogate: what a JSON string can hold.
bool IsWellFormed(const CapturedText& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xDC00 && text[i] < 0xE000) return false;
    if (text[i] >= 0xD800 && text[i] < 0xDC00) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] >= 0xE000) return false;
      ++i;
    }
  }
  return true;
}

std::string Hex(const SimBytes& bytes) {
  std::string text;
  char pair[3];
  for (BYTE b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

std::string Escaped(const std::u16string& text) {
  std::string out;
  char unit[8];
  for (char16_t c : text) {
    std::snprintf(unit, sizeof unit, c >= 0x20 && c < 0x7F ? "%c" : "<%04x>", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

}  // namespace

SimulatedMachine ExpectedReplay(const CapturedMachine& captured) {
  SimulatedMachine machine;
  machine.setupApiPresent = captured.setupApiLoaded;
  // Entry points go missing only from a library that loaded.
  if (captured.setupApiLoaded) {
    for (const char* name : captured.missingEntryPoints) machine.missingEntryPoints.push_back(name);
  }
  for (const CapturedDevice& device : captured.devices) {
    SimDevice sim;
    sim.instanceIdError = device.instanceIdError;
    const bool idRead = device.instanceIdError == ERROR_SUCCESS;
    if (idRead) sim.instanceId = Text(device.instanceId);
    Property(device.hardwareIds, sim.hardwareIds, sim.hardwareIdsError);
    Property(device.service, sim.service, sim.serviceError);
    if (idRead && (!device.keyOpened || device.keyFound)) {
      SimKey key{u"SYSTEM\\CurrentControlSet\\Enum\\" + sim.instanceId, {}};
      if (device.prefixFound) key.values.push_back(SimValue{u"ParentIdPrefix", device.prefixType, device.prefix});
      machine.registry.push_back(key);
    }
    machine.devices.push_back(sim);
  }
  if (captured.mountTableFound) {
    SimKey key{u"SYSTEM\\MountedDevices", {}};
    for (const CapturedValue& value : captured.mountTable) {
      key.values.push_back(SimValue{Text(value.name), value.type, value.data});
    }
    machine.registry.push_back(key);
  }
  machine.driveMask = captured.driveMask & 0x03FFFFFFu;
  if (captured.versionAsked) {
    machine.version = std::nullopt;
    if (captured.versionRead) {
      SimVersion version;
      version.major = captured.version.major;
      version.minor = captured.version.minor;
      version.build = captured.version.build;
      version.platformId = captured.version.platformId;
      if (IsWellFormed(captured.version.csdVersion)) version.csdVersion = Text(captured.version.csdVersion);
      machine.version = version;
    }
  }
  machine.codePage = captured.codePage;
  for (const CapturedVolume& volume : captured.volumes) machine.volumes.push_back(Volume(volume));
  return machine;
}

std::string DumpMachine(const SimulatedMachine& machine) {
  std::string out = "setupApi " + std::to_string(machine.setupApiPresent) + "\n";
  for (const std::string& name : machine.missingEntryPoints) out += "missing " + name + "\n";
  for (const SimDevice& device : machine.devices) {
    out += "device " + Escaped(device.instanceId) + " error " + std::to_string(device.instanceIdError) + "\n";
    out += "  hardwareIds " + (device.hardwareIds ? Hex(*device.hardwareIds) : "-") + " error " +
           std::to_string(device.hardwareIdsError) + "\n";
    out += "  service " + (device.service ? Hex(*device.service) : "-") + " error " +
           std::to_string(device.serviceError) + "\n";
  }
  for (const SimKey& key : machine.registry) {
    out += "key " + Escaped(key.path) + "\n";
    for (const SimValue& value : key.values) {
      out += "  value " + Escaped(value.name) + " type " + std::to_string(value.type) + " " + Hex(value.data) + "\n";
    }
  }
  out += "drives " + std::to_string(machine.driveMask) + "\n";
  if (machine.version) {
    out += "version " + std::to_string(machine.version->major) + "." + std::to_string(machine.version->minor) +
           "." + std::to_string(machine.version->build) + " " + std::to_string(machine.version->platformId) + " " +
           Escaped(machine.version->csdVersion) + "\n";
  } else {
    out += "version fails\n";
  }
  out += "codePage " + std::to_string(machine.codePage) + "\n";
  for (const SimVolume& volume : machine.volumes) {
    out += "volume " + Escaped(volume.guid) + " medium " + std::to_string(static_cast<int>(volume.medium)) + "\n";
    for (const auto& [path, file] : volume.entries) {
      out += "  " + Escaped(path) + (file.directory ? " directory" : " file " + Hex(file.bytes)) + "\n";
    }
  }
  return out;
}
