// Takes what identifies one machine or one device out of a capture, in a
// way that leaves the scan's result on its replay unchanged.
#pragma once

#include "capture/captured_machine.h"

// Replaces every USB serial (the last component of each "USB\..." instance
// ID, and the serial in each stick's mount record, the stick present or
// gone) and every volume GUID, wherever their text occurs in instance IDs,
// "ParentIdPrefix" values and the mount table, in any letter case, by one
// stand-in each; and every descriptor by one that gives the reader a value
// of the same length. Hardware IDs, service names, drive letters, the
// Windows version and the code page are kept.
void Anonymize(CapturedMachine& machine);
