// The memory functions libjpeg calls (its jmemsys interface), in place of the
// library's own jmemnobs: defining all of them here keeps that object out of
// the link. They are called from inside libjpeg, so nothing here throws.
#include "codec/large_blocks.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

namespace {

// Smaller blocks come from the heap's own free lists, warm already.
constexpr size_t kKeptAtLeast = 64 * 1024;
// An encode asks for a dozen or so large blocks; more than this many are not
// worth keeping.
constexpr size_t kMaxKept = 32;

struct KeptBlock {
  void* data = nullptr;
  size_t size = 0;
  bool fromEarlier = false;  // kept before the current encode began
};

std::array<KeptBlock, kMaxKept> kept;
bool keeping = false;
size_t limit = SIZE_MAX;

void FreeKept(KeptBlock& block) {
  std::free(block.data);
  block = KeptBlock{};
}

void* TakeKept(size_t size) {
  for (KeptBlock& block : kept) {
    if (block.data != nullptr && block.size == size) {
      void* data = block.data;
      block = KeptBlock{};
      return data;
    }
  }
  return nullptr;
}

bool Keep(void* data, size_t size) {
  for (KeptBlock& block : kept) {
    if (block.data == nullptr) {
      block = {data, size, false};
      return true;
    }
  }
  return false;
}

}  // namespace

void BeginKeepingLargeBlocks() {
  keeping = true;
  for (KeptBlock& block : kept)
    block.fromEarlier = block.data != nullptr;
}

void EndKeepingLargeBlocks() {
  keeping = false;
  for (KeptBlock& block : kept) {
    if (block.fromEarlier)
      FreeKept(block);
  }
}

void ReleaseKeptLargeBlocks() {
  for (KeptBlock& block : kept) {
    if (block.data != nullptr)
      FreeKept(block);
  }
}

void LimitLargeBlocks(size_t bytes) {
  limit = bytes;
}

extern "C" {

void* jpeg_get_small(j_common_ptr, size_t size) {
  return std::malloc(size);
}

void jpeg_free_small(j_common_ptr, void* object, size_t) {
  std::free(object);
}

void* jpeg_get_large(j_common_ptr, size_t size) {
  if (size > limit)
    return nullptr;
  if (keeping && size >= kKeptAtLeast) {
    if (void* data = TakeKept(size))
      return data;
  }
  void* data = std::malloc(size);
  if (data == nullptr) {
    // Memory is short: what is kept goes back before the request fails.
    ReleaseKeptLargeBlocks();
    data = std::malloc(size);
  }
  return data;
}

void jpeg_free_large(j_common_ptr, void* object, size_t size) {
  if (keeping && size >= kKeptAtLeast && Keep(object, size))
    return;
  std::free(object);
}

// All that is asked for is there: no backing store is ever used.
size_t jpeg_mem_available(j_common_ptr cinfo, size_t, size_t max_bytes_needed,
                          size_t already_allocated) {
  const long most = cinfo->mem->max_memory_to_use;
  if (most == 0)
    return max_bytes_needed;
  return static_cast<size_t>(most) > already_allocated
             ? static_cast<size_t>(most) - already_allocated
             : 0;
}

// Never called while jpeg_mem_available grants everything; libjpeg's own
// version fails the same way. Its record's type is libjpeg's private one.
void jpeg_open_backing_store(j_common_ptr cinfo, void*, long) {
  cinfo->err->msg_code = JERR_NO_BACKING_STORE;
  (*cinfo->err->error_exit)(cinfo);
}

long jpeg_mem_init(j_common_ptr) {
  return 0;  // no limit on libjpeg's memory of its own
}

void jpeg_mem_term(j_common_ptr) {}

}  // extern "C"
