// Page blocks for Windows: committed read-write pages, zero-filled by the system.
#include <windows.h>

#include "convert/page_block.h"

bool PageBlock::Allocate(uint64_t bytes) {
  Release();
  if (bytes == 0)
    return true;
  if (bytes > kMaxBlockBytes || bytes > SIZE_MAX)
    return false;
  void* p =
      VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (p == nullptr)
    return false;
  data_ = static_cast<uint8_t*>(p);
  size_ = static_cast<size_t>(bytes);
  capacity_ = size_;
  return true;
}

void PageBlock::Release() {
  if (data_ != nullptr)
    VirtualFree(data_, 0, MEM_RELEASE);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}
