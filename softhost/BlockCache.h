// Memory blocks behind handles and worlds. Large blocks the effect releases
// wait for the next request of about their size, as a host's memory manager
// keeps them: on virtual machines the first-touch page faults of a fresh
// frame-sized block can cost more than the render that asked for it.
// Fresh frame-sized blocks ask for huge pages, for the same reason.
// Sanitizer builds never reuse a block, so that a use after release shows.
//
// Blocks are uninitialised; a Block's deleter returns it to the cache (or
// frees it). Safe to use from any thread.
#pragma once

#include <cstddef>
#include <memory>

namespace softhost {

struct BlockDeleter {
  size_t capacity = 0;  // bytes the block really has, at least those asked for
  void operator()(unsigned char* block) const;
};

using Block = std::unique_ptr<unsigned char[], BlockDeleter>;

// At least `bytes` bytes (one when 0); null when memory runs out.
Block ObtainBlock(size_t bytes);

}  // namespace softhost
