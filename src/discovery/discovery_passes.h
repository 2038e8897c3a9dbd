// The two passes of discovery over one device information set.
#pragma once

#include <vector>

#include "discovery/work_buffer.h"
#include "inventory/records.h"

// Appends one candidate per device with a matched hardware ID. False when
// the scan had to stop; the candidates found so far stay.
bool ListCandidates(HDEVINFO set, SP_DEVINFO_DATA& device, WorkBuffer& buffer,
                    std::vector<CandidateDevice>& candidates);

// Gives each candidate one volume entry per storage child device.
void AddStorageChildren(HDEVINFO set, SP_DEVINFO_DATA& device, WorkBuffer& buffer, bool vistaOrLater,
                        std::vector<CandidateDevice>& candidates);
