// Page blocks for the native build (the unit tests and tools): anonymous
// mappings, which the kernel hands out zero-filled like VirtualAlloc does.
#include <sys/mman.h>

#include "convert/page_block.h"

bool PageBlock::Allocate(uint64_t bytes) {
  Release();
  if (bytes == 0)
    return true;
  if (bytes > kMaxBlockBytes)
    return false;
  void* p = mmap(nullptr, static_cast<size_t>(bytes), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED)
    return false;
  data_ = static_cast<uint8_t*>(p);
  size_ = static_cast<size_t>(bytes);
  capacity_ = size_;
  return true;
}

void PageBlock::Release() {
  if (data_ != nullptr)
    munmap(data_, capacity_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}
