#include "image/HostAllocator.h"

#include <cstring>
#include <limits>
#include <new>

HostAllocator::HostAllocator() = default;

// Blocks still live at unload are deliberately not given back: the host owns
// its handles and frees them with the instance.
HostAllocator::~HostAllocator() = default;

void HostAllocator::CaptureCallbacks(const PF_UtilCallbacks* utils) {
  CriticalSectionGuard guard(lock);
  if (callbacksCaptured || utils == nullptr) return;
  callbacks.newHandle = utils->host_new_handle;
  callbacks.disposeHandle = utils->host_dispose_handle;
  callbacks.lockHandle = utils->host_lock_handle;
  callbacks.unlockHandle = utils->host_unlock_handle;
  callbacksCaptured = true;
}

void* HostAllocator::TryAllocate(size_t size, size_t alignment) {
  if (callbacks.newHandle == nullptr || callbacks.lockHandle == nullptr ||
      callbacks.disposeHandle == nullptr)
    return nullptr;
  const size_t slack = alignment > alignof(std::max_align_t) ? alignment - 1 : 0;
  if (size > std::numeric_limits<PF_HandleSize>::max() - slack) return nullptr;
  PF_Handle handle = callbacks.newHandle(static_cast<PF_HandleSize>(size + slack));
  if (handle == nullptr) return nullptr;
  void* base = callbacks.lockHandle(handle);
  if (base == nullptr) {
    callbacks.disposeHandle(handle);
    return nullptr;
  }
  PF_Handle recordHandle = callbacks.newHandle(sizeof(HostBlock));
  HostBlock* record = nullptr;
  if (recordHandle != nullptr) record = static_cast<HostBlock*>(callbacks.lockHandle(recordHandle));
  if (record == nullptr) {
    callbacks.disposeHandle(handle);
    if (recordHandle != nullptr) callbacks.disposeHandle(recordHandle);
    return nullptr;
  }
  auto address = reinterpret_cast<uintptr_t>(base);
  if (slack != 0) address = (address + slack) & ~static_cast<uintptr_t>(alignment - 1);
  record->next = blocks;
  record->previous = nullptr;
  if (blocks != nullptr) {
    blocks->previous = record;
  } else {
    oldest = record;
  }
  record->handle = handle;
  record->memory = reinterpret_cast<void*>(address);
  record->recordHandle = recordHandle;
  record->size = size;
  blocks = record;
  return record->memory;
}

void* HostAllocator::Allocate(size_t size, size_t alignment) {
  if (size == 0) return nullptr;
  void* memory = nullptr;
  lock.Enter();
  try {
    memory = TryAllocate(size, alignment);
  } catch (...) {
    memory = nullptr;
  }
  lock.Leave();
  // Raised outside the lock so that no handler ever runs while it is held.
  if (memory == nullptr) throw HostBadAlloc();
  return memory;
}

void HostAllocator::Release(void* pointer) noexcept {
  if (pointer == nullptr) return;
  lock.Enter();
  try {
    HostBlock* record = nullptr;
    for (HostBlock *newer = blocks, *older = oldest; newer != nullptr;
         newer = newer->next, older = older->previous) {
      if (newer->memory == pointer) {
        record = newer;
        break;
      }
      if (older->memory == pointer) {
        record = older;
        break;
      }
      if (newer == older || newer->next == older) break;
    }
    if (record != nullptr) {
      (record->previous != nullptr ? record->previous->next : blocks) = record->next;
      (record->next != nullptr ? record->next->previous : oldest) = record->previous;
      PF_Handle handle = record->handle;
      PF_Handle recordHandle = record->recordHandle;
      callbacks.disposeHandle(handle);
      callbacks.disposeHandle(recordHandle);
    }
  } catch (...) {
  }
  lock.Leave();
}

size_t HostAllocator::LiveBlocks() {
  CriticalSectionGuard guard(lock);
  size_t count = 0;
  for (HostBlock* b = blocks; b != nullptr; b = b->next) ++count;
  return count;
}

HostAllocator& TheHostAllocator() {
  // Placement into static storage: the global operator new is this very
  // allocator. Never destroyed, so deletes from late static destructors still
  // find their blocks.
  alignas(HostAllocator) static unsigned char storage[sizeof(HostAllocator)];
  static HostAllocator* const instance = ::new (storage) HostAllocator();
  return *instance;
}

// Built at load time, before any command can allocate.
static HostAllocator& loadTimeAllocator = TheHostAllocator();

void CacheHostCallbacks(const PF_UtilCallbacks* utils) {
  loadTimeAllocator.CaptureCallbacks(utils);
}

void* ZeroAlloc(size_t count, size_t elementSize) {
  if (count == 0 || elementSize == 0) return nullptr;
  if (count > SIZE_MAX / elementSize) throw HostBadAlloc();
  const size_t bytes = count * elementSize;
  void* memory = ::operator new(bytes);
  std::memset(memory, 0, bytes);
  return memory;
}
