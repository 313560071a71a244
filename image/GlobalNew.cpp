// Replaces the global allocation functions of the module (and only of the
// module: it is linked into the shared library alone, which exports nothing
// but main). Every new and delete of the effect is then a host handle.
#include <cstddef>
#include <new>

#include "image/HostAllocator.h"

namespace {

// A request for 0 bytes must still give a distinct pointer; the host
// allocator answers such a request with none.
void* Allocate(std::size_t size, std::size_t alignment = alignof(std::max_align_t)) {
  return TheHostAllocator().Allocate(size == 0 ? 1 : size, alignment);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, std::align_val_t al) {
  return Allocate(size, static_cast<std::size_t>(al));
}
void* operator new[](std::size_t size, std::align_val_t al) {
  return Allocate(size, static_cast<std::size_t>(al));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}

void operator delete(void* p) noexcept { TheHostAllocator().Release(p); }
void operator delete[](void* p) noexcept { TheHostAllocator().Release(p); }
void operator delete(void* p, std::size_t) noexcept { TheHostAllocator().Release(p); }
void operator delete[](void* p, std::size_t) noexcept { TheHostAllocator().Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { TheHostAllocator().Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { TheHostAllocator().Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  TheHostAllocator().Release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  TheHostAllocator().Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { TheHostAllocator().Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { TheHostAllocator().Release(p); }
