#include "softhost/BlockCache.h"

#include <cstdlib>
#include <mutex>
#include <vector>

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
  return Block(static_cast<unsigned char*>(std::malloc(bytes)), BlockDeleter{bytes});
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
