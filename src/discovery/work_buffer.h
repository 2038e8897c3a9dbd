// The one heap block both discovery passes work in: hardware-ID lists, then
// registry key paths. It grows in steps of 256 bytes and never shrinks.
#pragma once

#include "platform/win32.h"

class WorkBuffer {
 public:
  WorkBuffer();  // 512 bytes, not cleared; null with size 0 if that fails
  ~WorkBuffer();
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;

  // Replaces the block by one of the next multiple of 256 bytes strictly
  // above needed. False, with the buffer null and size 0, when that fails.
  bool Grow(DWORD needed);

  BYTE* data() const { return data_; }
  DWORD size() const { return size_; }

 private:
  void Free();

  BYTE* data_;
  DWORD size_;
};
