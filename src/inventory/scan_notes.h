// Where the scan's steps hand out what they decided, so that a scan can be
// explained from its own decisions. Only the capture's build of the scan
// takes the notes (DEVDRIVES_SCAN_NOTES); in the command's build they are
// empty and leave no trace in the exe.
#pragma once

#include <vector>

#include "inventory/records.h"

// How a storage child got its key, or why it got none.
enum class ChildKey { FromParentIdPrefix, FromInstanceId, NoParentIdPrefix, EnumKeyUnreadable, NoRoomForPath };

// What the descriptor test found on a volume.
enum class Probe { PathTooLong, NoDescriptor, DescriptorIsDirectory, TypeValue };

// The slot a volume went to; kDroppedSlot when every card slot was taken.
constexpr int kDroppedSlot = 3;

#ifdef DEVDRIVES_SCAN_NOTES
void NoteDeviceListFailed();
void NoteScanAborted(DWORD device);
// A device whose hardware ID matched; candidates holds it at the end unless
// its instance ID could not be read.
void NoteOurDevice(DWORD device, const std::vector<CandidateDevice>& candidates);
void NoteStorageChild(DWORD device, const std::vector<CandidateDevice>& candidates, const CandidateDevice& candidate);
void NoteChildKey(ChildKey how, const WCHAR* matchKey);
void NoteMountTableUnreadable();
void NoteMapped(const std::vector<CandidateDevice>& candidates);
void NoteHiddenRoot(bool present);
void NoteDescriptorRead();
void NoteProbe(const WCHAR* volumePath, Probe probe, int typeChars);
void NotePlaced(const VolumeEntry& volume, int slot);
#else
inline void NoteDeviceListFailed() {}
inline void NoteScanAborted(DWORD) {}
inline void NoteOurDevice(DWORD, const std::vector<CandidateDevice>&) {}
inline void NoteStorageChild(DWORD, const std::vector<CandidateDevice>&, const CandidateDevice&) {}
inline void NoteChildKey(ChildKey, const WCHAR*) {}
inline void NoteMountTableUnreadable() {}
inline void NoteMapped(const std::vector<CandidateDevice>&) {}
inline void NoteHiddenRoot(bool) {}
inline void NoteDescriptorRead() {}
inline void NoteProbe(const WCHAR*, Probe, int) {}
inline void NotePlaced(const VolumeEntry&, int) {}
#endif
