#include "capture/reason_codes.h"

#include <cstring>

namespace {

const ReasonCode kReasons[] = {
    // The scan as a whole.
    {"setupapi-missing", "The Setup API could not be loaded, or an entry point the scan calls is missing.",
     "Send the capture file."},
    {"device-list-failed", "The Setup API did not hand out the list of present devices.", "Send the capture file."},
    {"scan-aborted",
     "Reading a device's hardware IDs failed in a way that ends the scan: the devices after it were never "
     "examined.",
     "Send the capture file."},
    {"mount-table-unreadable",
     "The mount table (SYSTEM\\MountedDevices) could not be opened, so no device can get a drive letter.",
     "Send the capture file."},
    // A device of ours.
    {"reported", "The device is in the report.", ""},
    {"instance-id-unreadable", "The device's instance ID could not be read, so the scan left it out.",
     "Plug the device in again; if that does not help, send the capture file."},
    {"service-unreadable", "The device's service name could not be read, so none of its storage devices is found.",
     "Plug the device in again; if that does not help, send the capture file."},
    {"uasp",
     "The device is attached over UASP (service UASPStor): its disk is a SCSI device whose ID holds neither the "
     "service name nor the serial, so nothing ties the device to its volumes.",
     "Plug the device into a USB 2.0 port, or send the capture file."},
    {"generated-instance-id",
     "The device has no USB serial number: Windows gave it a generated instance ID, which its disk's ID does "
     "not contain.",
     "Send the capture file."},
    {"no-storage-child",
     "No device's instance ID holds both the device's service name and its instance ID's last part: it is not a "
     "mass-storage device, or its disk is not present.",
     "Check that the device is switched to mass storage and its disk shows in Device Manager."},
    {"no-parent-id-prefix",
     "A storage device has no key to find its volume by: before Windows Vista it needs a ParentIdPrefix value, "
     "and that value, or the device's registry key, could not be read.",
     "Plug the device in again; if that does not help, send the capture file."},
    {"no-letter", "No drive letter in use has a mount record that holds the key of one of the device's storage devices.",
     "Assign a drive letter in Disk Management."},
    {"no-volume-name",
     "A drive letter's mount record holds the key, but no volume-name record that can be read does, so the "
     "volume cannot be probed.",
     "Send the capture file."},
    {"no-main-volume", "The device's volumes have drive letters, but none of them has a descriptor that names a type.",
     "Check that device.xml is on the device's main volume and names a type inside hardware."},
    // A volume of a device of ours.
    {"main", "The main volume: its descriptor names a type.", ""},
    {"card", "A card volume, not probed: the device's main volume came before it.", ""},
    {"card-dropped", "A card volume with no free card slot: a device reports two card volumes at most.", ""},
    {"same-volume", "The same volume as an earlier entry of the device, at another letter: it is reported once.", ""},
    {"no-medium", "The volume could not be reached: there is no medium, for example an empty card slot.",
     "Insert the card."},
    {"volume-unreadable", "The volume could not be read (the error is given).",
     "Check that the volume opens in Explorer; if it does, send the capture file."},
    {"path-too-long", "The descriptor's path on this volume would be longer than 255 characters.",
     "Send the capture file."},
    {"no-descriptor", "There is no device.xml at the volume root.", ""},
    {"hidden-root-without-descriptor",
     "The volume has the hidden root directory __TFAT_HIDDEN_ROOT_DIR__ and no device.xml in it; a device.xml at "
     "the volume root is not consulted.",
     "Put device.xml into the hidden root directory."},
    {"empty-type", "The descriptor has no type inside hardware, or an empty one.",
     "Check that device.xml names a type inside hardware."},
    {"descriptor-unreadable", "The descriptor exists but could not be opened or read.",
     "Check that device.xml opens; if it does, send the capture file."},
    // A device that is almost one of ours.
    {"interface-id",
     "The device's hardware IDs name one of our vendor and product IDs only with more after it: an interface of "
     "a composite device, or an ID with its revision only.",
     "Send the capture file."},
};

}  // namespace

const ReasonCode* FindReason(const char* code) {
  for (const ReasonCode& reason : kReasons) {
    if (std::strcmp(reason.code, code) == 0) return &reason;
  }
  return nullptr;
}

const ReasonCode* Reasons(unsigned& count) {
  count = sizeof kReasons / sizeof kReasons[0];
  return kReasons;
}
