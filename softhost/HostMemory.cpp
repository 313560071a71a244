// Memory handles and image allocation.
//
// A handle is the address of a record whose first member is the block
// pointer, so *handle is the memory as the effect API requires. Handles are
// never moved; locking only counts. Fresh handle memory is filled with a
// pattern rather than zeros (unless SetFreshHandlePattern turned it off) so
// that code relying on zeroed memory fails.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "softhost/BlockCache.h"
#include "softhost/HostInternal.h"

namespace softhost {
namespace {

constexpr unsigned char kFreshMemory = 0xA5;
constexpr unsigned char kRowPadding = 0xEE;

struct HandleRecord {
  void* memory;  // must stay first: a PF_Handle points at it
  PF_HandleSize size;
  size_t capacity;
};

struct HandleTable {
  std::mutex mutex;
  std::unordered_set<HandleRecord*> live;
  HandleFaults faults;
  HandleStats stats;
  bool pattern = true;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // outlives every static destructor
  return *table;
}

int32_t PaddedRowbytes(int32_t width, size_t pixelSize, int32_t padBytes) {
  return static_cast<int32_t>(static_cast<size_t>(width) * pixelSize +
                              static_cast<size_t>(padBytes));
}

void FillPadding(unsigned char* data, int32_t height, int32_t rowbytes, size_t rowPixels) {
  for (int32_t y = 0; y < height; ++y) {
    unsigned char* row = data + static_cast<size_t>(y) * static_cast<size_t>(rowbytes);
    std::memset(row + rowPixels, kRowPadding, static_cast<size_t>(rowbytes) - rowPixels);
  }
}

}  // namespace

void SetHandleFaults(const HandleFaults& faults) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.faults = faults;
  table.stats.newCalls = 0;
  table.stats.lockCalls = 0;
}

void SetFreshHandlePattern(bool on) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.pattern = on;
}

HandleStats GetHandleStats() {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  HandleStats stats = table.stats;
  stats.live = static_cast<long>(table.live.size());
  return stats;
}

PF_Handle HostNewHandle(PF_HandleSize size) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  const long call = table.stats.newCalls++;
  if (table.faults.failNewHandleAt >= 0 && call == table.faults.failNewHandleAt) return nullptr;
  auto* record = new (std::nothrow) HandleRecord{nullptr, size, 0};
  if (!record) return nullptr;
  // A zero-size handle still gets an address.
  Block block = ObtainBlock(size);
  if (!block) {
    delete record;
    return nullptr;
  }
  record->capacity = block.get_deleter().capacity;
  record->memory = block.release();
  if (table.pattern) std::memset(record->memory, kFreshMemory, size);
  table.live.insert(record);
  return &record->memory;
}

void* HostLockHandle(PF_Handle handle) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  const long call = table.stats.lockCalls++;
  if (table.faults.failLockAt >= 0 && call == table.faults.failLockAt) return nullptr;
  auto* record = reinterpret_cast<HandleRecord*>(handle);
  if (!handle || !table.live.count(record)) return nullptr;
  return record->memory;
}

void HostUnlockHandle(PF_Handle) {}

void HostDisposeHandle(PF_Handle handle) {
  if (!handle) return;
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto* record = reinterpret_cast<HandleRecord*>(handle);
  if (!table.live.erase(record)) {
    ++table.stats.badDisposes;
    return;
  }
  BlockDeleter{record->capacity}(static_cast<unsigned char*>(record->memory));
  delete record;
}

SoftWorld::SoftWorld(int32_t width, int32_t height, bool deep, int32_t padBytes)
    : SoftWorld(width, height, deep ? PixelFormat::Argb16 : PixelFormat::Argb8, padBytes) {}

SoftWorld::SoftWorld(int32_t width, int32_t height, PixelFormat format, int32_t padBytes) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (padBytes < 0) padBytes = 0;
  const size_t pixelSize = PixelSize(format);
  world.width = width;
  world.height = height;
  world.rowbytes = PaddedRowbytes(width, pixelSize, padBytes);
  world.world_flags = PF_WorldFlag_WRITEABLE | FormatFlags(format);
  world.extent_hint = HostRect(0, 0, width, height);
  storage.assign(static_cast<size_t>(world.rowbytes) * static_cast<size_t>(height) + 1, 0);
  FillPadding(storage.data(), height, world.rowbytes, static_cast<size_t>(width) * pixelSize);
  world.data = storage.data();
}

SoftWorld::~SoftWorld() = default;

PixelFormat SoftWorld::Format() const { return WorldFormat(&world); }

size_t SoftWorld::PixelBytes() const { return PixelSize(Format()); }

PF_PixelFloat* SoftWorld::PixelF(int32_t x, int32_t y) {
  return PixelIn<PF_PixelFloat>(&world, x, y);
}
const PF_PixelFloat* SoftWorld::PixelF(int32_t x, int32_t y) const {
  return PixelIn<PF_PixelFloat>(&world, x, y);
}

PF_Pixel* SoftWorld::Pixel8(int32_t x, int32_t y) { return PixelIn<PF_Pixel>(&world, x, y); }
PF_Pixel16* SoftWorld::Pixel16(int32_t x, int32_t y) { return PixelIn<PF_Pixel16>(&world, x, y); }
const PF_Pixel* SoftWorld::Pixel8(int32_t x, int32_t y) const {
  return PixelIn<PF_Pixel>(&world, x, y);
}
const PF_Pixel16* SoftWorld::Pixel16(int32_t x, int32_t y) const {
  return PixelIn<PF_Pixel16>(&world, x, y);
}

PF_Err Host::Impl::NewWorld(PF_ProgPtr ref, A_long width, A_long height, PF_NewWorldFlags flags,
                            PF_EffectWorld* world) {
  return NewWorldOf(
      ref, width, height,
      (flags & PF_NewWorldFlag_DEEP_PIXELS) != 0 ? PixelFormat::Argb16 : PixelFormat::Argb8, world);
}

PF_Err Host::Impl::NewWorldOf(PF_ProgPtr ref, A_long width, A_long height, PixelFormat format,
                              PF_EffectWorld* world) {
  Host* host = From(ref);
  if (!host || !world) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountNewWorld, host->faults.failNewWorldAt)) return host->faults.failCode;
  if (width < 1 || height < 1) return PF_Err_BAD_CALLBACK_PARAM;
  const size_t pixelSize = PixelSize(format);
  // 24 bytes is several pixels at the integer depths and more than one float
  // pixel, so stride bugs show, and keeps every row aligned for 16-bit and
  // float channels.
  const int32_t rowbytes = PaddedRowbytes(width, pixelSize, 24);
  const size_t bytes = static_cast<size_t>(rowbytes) * static_cast<size_t>(height);
  Block pixels = ObtainBlock(bytes);
  if (!pixels) return PF_Err_OUT_OF_MEMORY;
  std::memset(pixels.get(), 0, bytes);
  FillPadding(pixels.get(), height, rowbytes, static_cast<size_t>(width) * pixelSize);

  *world = PF_EffectWorld{};
  world->world_flags = PF_WorldFlag_WRITEABLE | FormatFlags(format);
  world->data = pixels.get();
  world->rowbytes = rowbytes;
  world->width = width;
  world->height = height;
  world->extent_hint = HostRect(0, 0, width, height);
  {
    std::lock_guard<std::mutex> lock(host->mutex);
    host->worlds.emplace(world->data, std::move(pixels));
  }
  ++host->liveWorlds;
  return PF_Err_NONE;
}

PF_Err Host::Impl::DisposeWorld(PF_ProgPtr ref, PF_EffectWorld* world) {
  Host* host = From(ref);
  if (!host || !world) return PF_Err_BAD_CALLBACK_PARAM;
  {
    std::lock_guard<std::mutex> lock(host->mutex);
    if (!host->worlds.erase(world->data)) return PF_Err_BAD_CALLBACK_PARAM;
  }
  --host->liveWorlds;
  world->data = nullptr;
  return PF_Err_NONE;
}

}  // namespace softhost
