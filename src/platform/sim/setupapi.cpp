// The simulated Setup API over the machine's present devices, with the
// documented size and end-of-list protocols.
#include "platform/sim/setupapi.h"

#include <cstring>
#include <set>

#include "platform/sim/sim.h"

namespace {

// A device information set: a snapshot of the devices present when made.
struct DeviceSet {
  std::vector<SimDevice> devices;
};

std::set<DeviceSet*> openSets;

DeviceSet* SetOf(HDEVINFO handle) {
  DeviceSet* set = static_cast<DeviceSet*>(handle);
  return openSets.count(set) != 0 ? set : nullptr;
}

// The device a filled SP_DEVINFO_DATA names, or null with the error set.
const SimDevice* DeviceOf(HDEVINFO handle, PSP_DEVINFO_DATA data) {
  DeviceSet* set = SetOf(handle);
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->Reserved >= set->devices.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &set->devices[data->Reserved];
}

bool Fails(const char* call) {
  DWORD error = 0;
  if (!SimCallFails(call, &error)) return false;
  SetLastError(error);
  return true;
}

HDEVINFO WINAPI GetClassDevsW(const GUID* ClassGuid, LPCWSTR, HWND, DWORD Flags) {
  if (Fails("SetupDiGetClassDevsW")) return INVALID_HANDLE_VALUE;
  if (ClassGuid == nullptr && (Flags & DIGCF_ALLCLASSES) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  DeviceSet* set = new DeviceSet{Sim().machine.devices};
  openSets.insert(set);
  ++Sim().counters.openSets;
  SetLastError(ERROR_SUCCESS);  // the Setup API sets the code on success too
  return set;
}

BOOL WINAPI EnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  if (Fails("SetupDiEnumDeviceInfo")) return FALSE;
  DeviceSet* set = SetOf(DeviceInfoSet);
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (MemberIndex >= set->devices.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  std::memset(&DeviceInfoData->ClassGuid, 0, sizeof DeviceInfoData->ClassGuid);
  DeviceInfoData->DevInst = MemberIndex + 1;
  DeviceInfoData->Reserved = MemberIndex;
  return TRUE;
}

BOOL WINAPI GetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                       DWORD PropertyBufferSize, PDWORD RequiredSize) {
  if (Fails("SetupDiGetDeviceRegistryPropertyW")) return FALSE;
  const SimDevice* device = DeviceOf(DeviceInfoSet, DeviceInfoData);
  if (device == nullptr) return FALSE;
  if (Property >= SPDRP_MAXIMUM_PROPERTY) {
    SetLastError(ERROR_INVALID_REG_PROPERTY);
    return FALSE;
  }
  const std::optional<SimBytes>* property = nullptr;
  DWORD type = REG_NONE;
  DWORD error = ERROR_INVALID_DATA;
  DWORD declared = 0;
  if (Property == SPDRP_HARDWAREID) {
    property = &device->hardwareIds;
    type = REG_MULTI_SZ;
    error = device->hardwareIdsError;
    declared = device->hardwareIdsSize;
  } else if (Property == SPDRP_SERVICE) {
    property = &device->service;
    type = REG_SZ;
    error = device->serviceError;
  }
  if (property == nullptr || !property->has_value()) {
    SetLastError(error);
    return FALSE;
  }
  const SimBytes& bytes = **property;
  const DWORD held = static_cast<DWORD>(bytes.size());
  const DWORD size = declared > held ? declared : held;
  // A property set to no bytes reads as one never set, whatever the buffer.
  if (size == 0) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if (PropertyRegDataType != nullptr) *PropertyRegDataType = type;
  if (RequiredSize != nullptr) *RequiredSize = size;
  if (PropertyBufferSize < size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (held != 0) std::memcpy(PropertyBuffer, bytes.data(), held);
  std::memset(PropertyBuffer + held, 0, size - held);
  return TRUE;
}

BOOL WINAPI GetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 LPWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize) {
  if (Fails("SetupDiGetDeviceInstanceIdW")) return FALSE;
  const SimDevice* device = DeviceOf(DeviceInfoSet, DeviceInfoData);
  if (device == nullptr) return FALSE;
  if (DeviceInstanceId == nullptr && DeviceInstanceIdSize != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // An ID that cannot be read (its device gone since the set was made, say):
  // no buffer helps.
  if (device->instanceIdError != ERROR_SUCCESS) {
    SetLastError(device->instanceIdError);
    return FALSE;
  }
  const DWORD needed = static_cast<DWORD>(device->instanceId.size() + 1);
  if (RequiredSize != nullptr) *RequiredSize = needed;
  if (DeviceInstanceIdSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  // The Plug and Play manager keeps instance IDs in upper case.
  for (DWORD i = 0; i < needed; ++i) {
    const WCHAR c = device->instanceId.c_str()[i];
    DeviceInstanceId[i] = (c >= 'a' && c <= 'z') ? static_cast<WCHAR>(c - 'a' + 'A') : c;
  }
  return TRUE;
}

BOOL WINAPI DestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (Fails("SetupDiDestroyDeviceInfoList")) return FALSE;
  DeviceSet* set = SetOf(DeviceInfoSet);
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  openSets.erase(set);
  delete set;
  --Sim().counters.openSets;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// The simulated machine is read-only: changing calls are refused.
HANDLE WINAPI DeleteDevRegKey(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD) {
  ++Sim().counters.calls["SetupDiDeleteDevRegKey"];
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}

BOOL WINAPI RemoveDevice(HDEVINFO, PSP_DEVINFO_DATA) {
  ++Sim().counters.calls["SetupDiRemoveDevice"];
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

CONFIGRET WINAPI RequestDeviceEjectW(DEVINST, PPNP_VETO_TYPE, LPWSTR, ULONG, ULONG) {
  ++Sim().counters.calls["CM_Request_Device_EjectW"];
  const CONFIGRET accessDenied = 0x33;
  return accessDenied;
}

template <typename Function>
FARPROC Export(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

void SimResetSetupApi() {
  for (DeviceSet* set : openSets) delete set;
  openSets.clear();
}

const SimExport* SimSetupApiExports(std::size_t* count) {
  static const SimExport exports[] = {
      {"CM_Request_Device_EjectW", Export(RequestDeviceEjectW)},
      {"SetupDiDeleteDevRegKey", Export(DeleteDevRegKey)},
      {"SetupDiDestroyDeviceInfoList", Export(DestroyDeviceInfoList)},
      {"SetupDiEnumDeviceInfo", Export(EnumDeviceInfo)},
      {"SetupDiGetClassDevsW", Export(GetClassDevsW)},
      {"SetupDiGetDeviceInstanceIdW", Export(GetDeviceInstanceIdW)},
      {"SetupDiGetDeviceRegistryPropertyW", Export(GetDeviceRegistryPropertyW)},
      {"SetupDiRemoveDevice", Export(RemoveDevice)},
  };
  *count = sizeof exports / sizeof exports[0];
  return exports;
}
