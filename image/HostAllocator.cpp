#include "image/HostAllocator.h"

#include <algorithm>
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
  record->handle = handle;
  record->memory = reinterpret_cast<void*>(address);
  record->recordHandle = recordHandle;
  record->size = size;
  if (!Insert(record)) {
    callbacks.disposeHandle(handle);
    callbacks.disposeHandle(recordHandle);
    return nullptr;
  }
  return record->memory;
}

size_t HostAllocator::SlotOf(const void* memory) const {
  // Blocks are at least 16-byte aligned: the low bits carry nothing, and the
  // multiply spreads the rest over the slots.
  const uint64_t key = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(memory) >> 4);
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (capacity - 1);
}

bool HostAllocator::Insert(HostBlock* record) {
  if (2 * (live + 1) > capacity) {
    const size_t grown = capacity == 0 ? 64 : 2 * capacity;
    if (grown > std::numeric_limits<PF_HandleSize>::max() / sizeof(HostBlock*)) return false;
    PF_Handle handle = callbacks.newHandle(static_cast<PF_HandleSize>(grown * sizeof(HostBlock*)));
    if (handle == nullptr) return false;
    auto* slots = static_cast<HostBlock**>(callbacks.lockHandle(handle));
    if (slots == nullptr) {
      callbacks.disposeHandle(handle);
      return false;
    }
    std::fill_n(slots, grown, nullptr);
    HostBlock** old = index;
    const size_t oldCapacity = capacity;
    const PF_Handle oldHandle = indexHandle;
    index = slots;
    capacity = grown;
    indexHandle = handle;
    for (size_t n = 0; n < oldCapacity; ++n) {
      if (old[n] != nullptr) Place(old[n]);
    }
    if (oldHandle != nullptr) callbacks.disposeHandle(oldHandle);
  }
  Place(record);
  ++live;
  return true;
}

void HostAllocator::Place(HostBlock* record) {
  size_t at = SlotOf(record->memory);
  while (index[at] != nullptr) at = (at + 1) & (capacity - 1);
  index[at] = record;
}

void HostAllocator::Erase(size_t slot) {
  // Moves back every later record of the probe run that the gap would cut
  // off from its home slot, so that a search may stop at the first null.
  const size_t mask = capacity - 1;
  size_t gap = slot;
  for (size_t next = (gap + 1) & mask; index[next] != nullptr; next = (next + 1) & mask) {
    const size_t home = SlotOf(index[next]->memory);
    // Whether home lies cyclically in (gap, next]: then the record stays.
    const bool stays = gap < next ? (home > gap && home <= next) : (home > gap || home <= next);
    if (stays) continue;
    index[gap] = index[next];
    gap = next;
  }
  index[gap] = nullptr;
  if (--live == 0) {
    // No block left: neither is the index, so that a host counting its
    // handles between renders sees none of ours.
    callbacks.disposeHandle(indexHandle);
    indexHandle = nullptr;
    index = nullptr;
    capacity = 0;
  }
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
    // Half the slots at least are null, so the search ends.
    size_t at = capacity == 0 ? 0 : SlotOf(pointer);
    while (capacity != 0 && index[at] != nullptr && index[at]->memory != pointer) {
      at = (at + 1) & (capacity - 1);
    }
    if (capacity != 0 && index[at] != nullptr) {
      const HostBlock record = *index[at];
      Erase(at);
      callbacks.disposeHandle(record.handle);
      callbacks.disposeHandle(record.recordHandle);
    }
  } catch (...) {
  }
  lock.Leave();
}

size_t HostAllocator::LiveBlocks() {
  CriticalSectionGuard guard(lock);
  return live;
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
