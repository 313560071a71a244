// Serves every allocation of the module from host memory handles. Each live
// block is recorded in a HostBlock, itself kept in a host handle, and found
// by its address in an index of the records (open addressing, in a host
// handle of its own that lives while any block does), so that a release
// costs the same however many blocks are live and in whatever order they go
// back. Handles are locked once and never unlocked: disposing a locked handle
// is how a block ends.
//
// One process-wide instance (TheHostAllocator) backs the module's global
// operator new/delete (GlobalNew.cpp); tests may make their own instances.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "hostapi/PluginApi.h"
#include "image/CriticalSection.h"

// The allocation failure the effect raises, with its own fixed text.
class HostBadAlloc : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "bad allocation"; }
};

struct HostBlock {
  PF_Handle handle;
  void* memory;
  PF_Handle recordHandle;
  size_t size;
};

struct HostMemoryCallbacks {
  PF_Handle (*newHandle)(PF_HandleSize size) = nullptr;
  void (*disposeHandle)(PF_Handle handle) = nullptr;
  void* (*lockHandle)(PF_Handle handle) = nullptr;
  void (*unlockHandle)(PF_Handle handle) = nullptr;
};

class HostAllocator {
 public:
  HostAllocator();
  HostAllocator(const HostAllocator&) = delete;
  HostAllocator& operator=(const HostAllocator&) = delete;
  virtual ~HostAllocator();

  // Copies the four handle callbacks the first time only; later calls leave
  // the table as it is.
  void CaptureCallbacks(const PF_UtilCallbacks* utils);
  bool CallbacksCaptured() const { return callbacksCaptured; }

  // Memory for size bytes aligned to alignment (a power of two); null for 0
  // bytes. Throws std::bad_alloc ("bad allocation") when the host has none.
  void* Allocate(size_t size, size_t alignment = alignof(std::max_align_t));
  // Ignores null and pointers this allocator did not hand out.
  void Release(void* pointer) noexcept;

  // Number of live blocks (for tests and leak checks).
  size_t LiveBlocks();

 private:
  void* TryAllocate(size_t size, size_t alignment);
  // The index: `capacity` slots (a power of two, or 0 with no handle), at
  // most half of them live records, the rest null.
  size_t SlotOf(const void* memory) const;
  bool Insert(HostBlock* record);
  // Puts a record in the first null slot from its home, the index having room.
  void Place(HostBlock* record);
  void Erase(size_t slot);

  AE_CriticalSection lock;
  PF_Handle indexHandle = nullptr;
  HostBlock** index = nullptr;
  size_t capacity = 0;
  size_t live = 0;
  bool callbacksCaptured = false;
  HostMemoryCallbacks callbacks;
};

HostAllocator& TheHostAllocator();

// Fills the process-wide allocator's table from the host's utility callbacks.
void CacheHostCallbacks(const PF_UtilCallbacks* utils);

// count * elementSize zero bytes from operator new; null when the product is 0.
void* ZeroAlloc(size_t count, size_t elementSize);
