// The memory functions libjpeg calls (its jmemsys interface), in place of the
// library's own jmemnobs: defining all of them here keeps that object out of
// the link. They are called from inside libjpeg, so nothing here throws.
#include "codec/large_blocks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

LargeBlocks::Block* LargeBlocks::Find(const void* data) noexcept {
  for (Block& block : blocks_) {
    if (block.data == data)
      return &block;
  }
  return nullptr;
}

void* LargeBlocks::Take(size_t bytes) noexcept {
  if (bytes > largest_)
    return nullptr;
  if (bytes >= kKeptAtLeast) {
    Block* best = nullptr;
    for (Block& block : blocks_) {
      if (block.data != nullptr && !block.lent && block.size >= bytes &&
          (best == nullptr || block.size < best->size)) {
        best = &block;
      }
    }
    if (best != nullptr) {
      best->lent = true;
      return best->data;
    }
  }
  void* data = std::malloc(bytes);
  if (data == nullptr) {
    // Memory is short: what is kept goes back before the request fails.
    Release();
    data = std::malloc(bytes);
  }
  return data;
}

void LargeBlocks::Give(void* data, size_t bytes) noexcept {
  if (data == nullptr)
    return;
  if (bytes >= kKeptAtLeast) {
    Block* block = Find(data);
    if (block == nullptr) {
      block = Find(nullptr);
      if (block != nullptr)
        *block = {data, bytes, false};
    }
    if (block != nullptr) {
      block->lent = false;
      return;
    }
  }
  std::free(data);
}

void LargeBlocks::Release() noexcept {
  for (Block& block : blocks_) {
    if (block.data != nullptr && !block.lent) {
      std::free(block.data);
      block = Block{};
    }
  }
}

namespace {

LargeBlocks* KeeperOf(j_common_ptr cinfo) {
  return static_cast<LargeBlocks*>(cinfo->client_data);
}

}  // namespace

extern "C" {

void* jpeg_get_small(j_common_ptr, size_t size) {
  return std::malloc(size);
}

void jpeg_free_small(j_common_ptr, void* object, size_t) {
  std::free(object);
}

void* jpeg_get_large(j_common_ptr cinfo, size_t size) {
  LargeBlocks* keeper = KeeperOf(cinfo);
  return keeper != nullptr ? keeper->Take(size) : std::malloc(size);
}

void jpeg_free_large(j_common_ptr cinfo, void* object, size_t size) {
  LargeBlocks* keeper = KeeperOf(cinfo);
  if (keeper != nullptr) {
    keeper->Give(object, size);
  } else {
    std::free(object);
  }
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
