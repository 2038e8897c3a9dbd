// The two passes of discovery over one device information set, and what they look for.
#pragma once

#include <vector>

#include "discovery/work_buffer.h"
#include "inventory/records.h"

struct MatchedHardwareId {
  const WCHAR* id;
  DWORD length;
};

// The hardware IDs of the devices the scan looks for.
const MatchedHardwareId kMatchedHardwareIds[] = {
    {WSTR("usb\\vid_045e&pid_ffff"), 21},
    {WSTR("usb\\vid_7a5c&pid_ffff"), 21},
};

// Stands for a service name that cannot be read. Instance IDs hold printable
// characters only, so it occurs in none: such a device gets no storage
// children, where an empty name would let its tail alone pick them (the
// device itself among them, keyed by its bare serial).
const WCHAR kUnreadableServiceName[] = {0x0001, 0};

// Appends one candidate per device with a matched hardware ID. False when
// the scan had to stop; the candidates found so far stay.
bool ListCandidates(HDEVINFO set, SP_DEVINFO_DATA& device, WorkBuffer& buffer,
                    std::vector<CandidateDevice>& candidates);

// Gives each candidate one volume entry per storage child device.
void AddStorageChildren(HDEVINFO set, SP_DEVINFO_DATA& device, WorkBuffer& buffer, bool vistaOrLater,
                        std::vector<CandidateDevice>& candidates);
