#include "softhost/BlockCache.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace softhost {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kReuse = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kReuse = false;
#else
constexpr bool kReuse = true;
#endif
#else
constexpr bool kReuse = true;
#endif

// Smaller blocks are left to malloc, whose own free lists serve them well.
constexpr size_t kSmallest = size_t{1} << 20;
// At most this much waits for reuse; the oldest blocks go first.
constexpr size_t kKeptBytes = size_t{1} << 30;

struct Kept {
  unsigned char* block;
  size_t capacity;
};

struct Cache {
  std::mutex mutex;
  std::vector<Kept> kept;  // oldest first
  size_t bytes = 0;
};

Cache& TheCache() {
  static Cache* cache = new Cache;  // outlives every static destructor
  return *cache;
}

#if defined(__linux__) && defined(MADV_HUGEPAGE)
constexpr size_t kHugePage = size_t{2} << 20;
constexpr bool kHuge = kReuse;
#else
constexpr size_t kHugePage = 1;
constexpr bool kHuge = false;
#endif

// The capacity a fresh block of `bytes` gets: whole huge pages when it is
// to sit on them.
size_t Rounded(size_t bytes) {
  if (!kHuge || bytes < kHugePage || bytes > SIZE_MAX - kHugePage) return bytes;
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

// A new block from the system. A frame-sized one sits on huge pages where
// the kernel offers them on request: its first touch then faults once per
// 2 MiB instead of once per 4 KiB, which on a virtual machine is most of what
// a render in a fresh process costs.
unsigned char* Fresh(size_t capacity) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (kHuge && capacity >= kHugePage && capacity % kHugePage == 0) {
    void* block = nullptr;
    if (posix_memalign(&block, kHugePage, capacity) != 0) return nullptr;
    // Only advice: a kernel that declines leaves ordinary pages.
    madvise(block, capacity, MADV_HUGEPAGE);
    return static_cast<unsigned char*>(block);
  }
#endif
  return static_cast<unsigned char*>(std::malloc(capacity));
}

}  // namespace

Block ObtainBlock(size_t bytes) {
  if (bytes == 0) bytes = 1;
  if (kReuse && bytes >= kSmallest) {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    // The smallest kept block that fits without wasting more than the request.
    auto best = cache.kept.end();
    for (auto k = cache.kept.begin(); k != cache.kept.end(); ++k) {
      if (k->capacity >= bytes && k->capacity / 2 <= bytes &&
          (best == cache.kept.end() || k->capacity < best->capacity)) {
        best = k;
      }
    }
    if (best != cache.kept.end()) {
      const Kept found = *best;
      cache.kept.erase(best);
      cache.bytes -= found.capacity;
      return Block(found.block, BlockDeleter{found.capacity});
    }
  }
  const size_t capacity = Rounded(bytes);
  return Block(Fresh(capacity), BlockDeleter{capacity});
}

void BlockDeleter::operator()(unsigned char* block) const {
  if (block == nullptr) return;
  if (!kReuse || capacity < kSmallest || capacity > kKeptBytes) {
    std::free(block);
    return;
  }
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  cache.kept.push_back(Kept{block, capacity});
  cache.bytes += capacity;
  while (cache.bytes > kKeptBytes) {
    std::free(cache.kept.front().block);
    cache.bytes -= cache.kept.front().capacity;
    cache.kept.erase(cache.kept.begin());
  }
}

}  // namespace softhost
