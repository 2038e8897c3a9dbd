// Takes what identifies one machine or one disk out of a capture, in a way
// that leaves the scan's result on its replay unchanged.
#pragma once

#include <vector>

#include "capture/captured_machine.h"

// Replaces, by one stand-in each wherever its text occurs (the last
// component of instance IDs, ParentIdPrefix values, the mount table's value
// names and records, in any letter case):
// - every USB serial (the last component of each "USB\..." instance ID,
//   and the serial in each stick's mount record, the stick present or gone);
// - every ParentIdPrefix the scan read, and usbPrefixes, those of the USB
//   devices and their disks, which their children's IDs carry;
// - every GUID that is not well known, in text and as the 16 bytes of a
//   binary record ("DMIO:ID:" records among them);
// - every run of 12 or more hex digits that stands alone (between
//   characters that are not letters or digits) in any part of an instance
//   ID or in a hardware ID, outside GUIDs and partition offsets: a MAC
//   address or a serial ("SWD\RADIO\BLUETOOTH_<address>",
//   "BTHENUM\DEV_<address>"), hex digit for hex digit, wherever it stands
//   alone;
// - the disk signature of each 12-byte record, its offset kept;
// - every descriptor, by one that gives the reader a value of the same
//   length.
// A GUID is well known when the capture shows it naming a kind: in a
// hardware ID, in the bus or device part of an instance ID, or as the
// interface class after the last '#' of a device path. Hardware IDs (but
// for addresses), service names, drive letters, the Windows version and
// the code page are kept.
// Texts from outside the machine (its explanation) get the same stand-ins
// as the machine's own of their kind.
struct OtherTexts {
  std::vector<CapturedText*> texts;  // keys and volume paths
  std::vector<CapturedText*> instanceIds;
  std::vector<CapturedText*> hardwareIds;
};
void Anonymize(CapturedMachine& machine, const std::vector<CapturedText>& usbPrefixes, const OtherTexts& others = {});
