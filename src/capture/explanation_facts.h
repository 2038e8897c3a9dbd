// The facts an explanation needs that the scan does not decide, each
// derived here, once, from what the capture recorded.
#pragma once

#include <vector>

#include "capture/captured_machine.h"
#include "capture/noted_scan.h"

// The library did not load, or an entry point the scan calls is missing.
bool SetupApiMissing(const CapturedMachine& machine);

// A device attached over UASP: its disk is a SCSI device.
bool IsUaspService(const CapturedText& serviceName);

// The last part of an instance ID that Windows generates for a USB device
// without a serial number ("5&2f6f8af0&0&2"), where a serial would stand.
bool IsGeneratedInstanceTail(const CapturedText& tail);

// Letters not in use whose drive-letter records hold the key: records that
// the mount table keeps of volumes gone, or of a letter removed.
std::vector<WCHAR> LettersNotInUseHolding(const CapturedMachine& machine, const CapturedText& key);

// The volume path ("\\?\Volume{GUID}\") of the first volume-name record
// that holds the key; empty when none does.
CapturedText VolumePathHolding(const CapturedMachine& machine, const CapturedText& key);

// Letters in use whose records are a disk signature or a GPT identifier,
// not text: disks with fixed media, which no key can find.
std::vector<WCHAR> FixedMediaLetters(const CapturedMachine& machine);

// The reason a descriptor probe that found nothing gives, by its error.
const char* MissingDescriptorReason(const NotedProbe& probe);

struct NearMissFact {
  DWORD device;
  CapturedText hardwareId;
};

// Devices not of ours whose hardware IDs name one of ours with more after it.
std::vector<NearMissFact> NearMisses(const CapturedMachine& machine, const std::vector<NotedDevice>& ours);
