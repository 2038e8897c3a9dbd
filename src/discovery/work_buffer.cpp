#include "discovery/work_buffer.h"

namespace {

BYTE* Allocate(DWORD size) { return static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size)); }

}  // namespace

WorkBuffer::WorkBuffer() : data_(Allocate(512)), size_(data_ != nullptr ? 512 : 0) {}

WorkBuffer::~WorkBuffer() { Free(); }

void WorkBuffer::Free() {
  if (data_ != nullptr) HeapFree(GetProcessHeap(), 0, data_);
  data_ = nullptr;
  size_ = 0;
}

bool WorkBuffer::Grow(DWORD needed) {
  Free();
  // A need this close to 4 GiB has no next step; it wraps, so it fails.
  if (needed >= 0xFFFFFF00u) return false;
  const DWORD size = ((needed >> 8) + 1) << 8;
  data_ = Allocate(size);
  if (data_ == nullptr) return false;
  size_ = size;
  return true;
}
