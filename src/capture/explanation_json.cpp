// The explanation as one JSON object, all ASCII.
#include "capture/explanation_output.h"
#include "capture/json_out.h"

namespace {

void Text(JsonOut& json, const CapturedText& text) { json.EscapedText(text.data(), text.size()); }

void Letter(JsonOut& json, WCHAR letter) {
  json.Char('"');
  json.Char(static_cast<char>(letter));
  json.Char('"');
}

void Letters(JsonOut& json, const std::vector<WCHAR>& letters) {
  json.Char('[');
  for (std::size_t i = 0; i < letters.size(); ++i) {
    if (i != 0) json.Raw(", ");
    Letter(json, letters[i]);
  }
  json.Char(']');
}

void Code(JsonOut& json, const char* code) {
  json.Char('"');
  json.Raw(code);
  json.Char('"');
}

const char* KeyFrom(ChildKey key) {
  switch (key) {
    case ChildKey::FromParentIdPrefix:
      return "ParentIdPrefix";
    case ChildKey::FromInstanceId:
      return "instanceId";
    default:
      return nullptr;
  }
}

void Child(JsonOut& json, const NotedChild& child) {
  json.Raw("{\"instanceId\": ");
  Text(json, child.instanceId);
  json.Raw(", \"key\": ");
  const char* from = KeyFrom(child.key);
  if (from == nullptr) {
    json.Raw("null, \"keyFrom\": null, \"reason\": \"no-parent-id-prefix\"}");
    return;
  }
  Text(json, child.matchKey);
  json.Raw(", \"keyFrom\": ");
  Code(json, from);
  json.Char('}');
}

void Descriptor(JsonOut& json, const NotedProbe& probe) {
  json.Raw(", \"descriptor\": ");
  if (!probe.probed) {
    json.Raw("null");
    return;
  }
  json.Raw("{\"hiddenRoot\": ");
  json.Raw(probe.hiddenRoot ? "true" : "false");
  json.Raw(", \"found\": ");
  json.Raw(probe.probe == Probe::TypeValue || probe.probe == Probe::DescriptorIsDirectory ? "true" : "false");
  if (probe.probe == Probe::NoDescriptor) {
    json.Raw(", \"error\": ");
    json.Number(probe.error);
  }
  if (probe.probe == Probe::TypeValue) {
    json.Raw(", \"read\": ");
    json.Raw(probe.descriptorRead ? "true" : "false");
    json.Raw(", \"typeChars\": ");
    json.Number(static_cast<DWORD>(probe.typeChars));
  }
  json.Char('}');
}

void Volume(JsonOut& json, const NotedVolume& volume) {
  json.Raw("{\"child\": ");
  json.Number(static_cast<DWORD>(volume.child));
  if (volume.letter != 0) {
    json.Raw(", \"letter\": ");
    Letter(json, volume.letter);
  }
  if (!volume.volumePath.empty()) {
    json.Raw(", \"volumePath\": ");
    Text(json, volume.volumePath);
  }
  json.Raw(", \"slot\": ");
  if (const char* slot = SlotName(volume.slot)) {
    Code(json, slot);
  } else {
    json.Raw("null");
  }
  json.Raw(", \"reason\": ");
  Code(json, volume.reason);
  if (volume.letter != 0) Descriptor(json, volume.probe);
  if (volume.letter == 0) {
    json.Raw(", \"lettersNotInUse\": ");
    Letters(json, volume.lettersNotInUse);
    if (!volume.namedVolume.empty()) {
      json.Raw(", \"namedVolume\": ");
      Text(json, volume.namedVolume);
    }
    if (volume.sameVolumeAs != kNoVolume) {
      json.Raw(", \"sameVolumeAs\": ");
      json.Number(static_cast<DWORD>(volume.sameVolumeAs));
    }
  }
  json.Char('}');
}

void Device(JsonOut& json, const NotedDevice& device) {
  json.Raw("\n    {\"instanceId\": ");
  Text(json, device.instanceId);
  json.Raw(", \"service\": ");
  if (device.serviceRead) {
    Text(json, device.serviceName);
  } else {
    json.Raw("null");
  }
  json.Raw(", \"reason\": ");
  Code(json, device.reason);
  json.Raw(",\n     \"children\": [");
  for (std::size_t i = 0; i < device.children.size(); ++i) {
    json.Raw(i == 0 ? "" : ", ");
    Child(json, device.children[i]);
  }
  json.Raw("],\n     \"volumes\": [");
  for (std::size_t i = 0; i < device.volumes.size(); ++i) {
    json.Raw(i == 0 ? "" : ",\n      ");
    Volume(json, device.volumes[i]);
  }
  json.Raw("]}");
}

void Windows(JsonOut& json, const Explanation& explanation) {
  json.Raw(",\n   \"windows\": ");
  if (!explanation.windowsKnown) {
    json.Raw("null");
    return;
  }
  json.Raw("{\"major\": ");
  json.Number(explanation.windows.major);
  json.Raw(", \"minor\": ");
  json.Number(explanation.windows.minor);
  json.Raw(", \"build\": ");
  json.Number(explanation.windows.build);
  json.Raw(", \"servicePack\": ");
  Text(json, explanation.windows.csdVersion);
  json.Char('}');
}

}  // namespace

void WriteExplanationJson(const Explanation& explanation, std::vector<char>& out) {
  JsonOut json(out);
  json.Raw("{\"schema\": 1, \"tool\": ");
  json.Ascii(explanation.toolVersion, std::strlen(explanation.toolVersion));
  Windows(json, explanation);
  json.Raw(", \"codePage\": ");
  json.Number(explanation.codePage);
  json.Raw(", \"identifiers\": ");
  Code(json, explanation.identifiersReplaced ? "replaced" : "kept");
  json.Raw(",\n   \"report\": {\"stdout\": ");
  json.Ascii(explanation.report.stdoutBytes.data(), explanation.report.stdoutBytes.size());
  json.Raw(", \"exit\": ");
  json.Number(static_cast<DWORD>(explanation.report.exitCode));
  json.Raw("},\n   \"scan\": [");
  for (std::size_t i = 0; i < explanation.scan.size(); ++i) {
    json.Raw(i == 0 ? "" : ", ");
    Code(json, explanation.scan[i]);
  }
  json.Raw("], \"fixedMediaLetters\": ");
  Letters(json, explanation.fixedMediaLetters);
  json.Raw(",\n   \"devices\": [");
  for (std::size_t i = 0; i < explanation.devices.size(); ++i) {
    json.Raw(i == 0 ? "" : ",");
    Device(json, explanation.devices[i]);
  }
  json.Raw("],\n   \"nearMisses\": [");
  for (std::size_t i = 0; i < explanation.nearMisses.size(); ++i) {
    json.Raw(i == 0 ? "\n    {\"instanceId\": " : ",\n    {\"instanceId\": ");
    Text(json, explanation.nearMisses[i].instanceId);
    json.Raw(", \"hardwareId\": ");
    Text(json, explanation.nearMisses[i].hardwareId);
    json.Raw(", \"reason\": ");
    Code(json, explanation.nearMisses[i].reason);
    json.Char('}');
  }
  json.Raw("]}");
}
