// Slots for work the host may run on several threads at once: a fixed set
// of indices, each taken and given back with an atomic flag, so that each
// pixel function call can own scratch (or a private image) allocated before
// the host's iterate begins. A caller that finds every slot taken yields
// until one comes back, so any number of host threads is safe.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class Slots {
 public:
  explicit Slots(int32_t count)
      : size(std::max<int32_t>(count, 1)), busy(new std::atomic<bool>[static_cast<size_t>(size)]) {
    for (int32_t i = 0; i < size; ++i) busy[i].store(false);
  }

  // One more than this machine's hardware threads (the host's calling thread
  // may work too), at most `most`.
  static int32_t ForThisMachine(int32_t most) {
    const auto threads = static_cast<int32_t>(std::thread::hardware_concurrency());
    return std::clamp<int32_t>(threads + 1, 1, std::max<int32_t>(most, 1));
  }

  int32_t Count() const { return size; }

  int32_t Acquire() {
    for (;;) {
      for (int32_t i = 0; i < size; ++i) {
        if (!busy[i].load(std::memory_order_relaxed) &&
            !busy[i].exchange(true, std::memory_order_acquire)) {
          return i;
        }
      }
      std::this_thread::yield();
    }
  }

  void Release(int32_t slot) { busy[slot].store(false, std::memory_order_release); }

 private:
  int32_t size;
  std::unique_ptr<std::atomic<bool>[]> busy;
};

class SlotLease {
 public:
  explicit SlotLease(Slots& owner) : slots(owner), slot(owner.Acquire()) {}
  SlotLease(const SlotLease&) = delete;
  SlotLease& operator=(const SlotLease&) = delete;
  ~SlotLease() { slots.Release(slot); }
  int32_t Index() const { return slot; }

 private:
  Slots& slots;
  int32_t slot;
};
