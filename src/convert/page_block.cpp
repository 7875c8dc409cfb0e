#include "convert/page_block.h"

#include <utility>

PageBlock::PageBlock(PageBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

PageBlock& PageBlock::operator=(PageBlock&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

bool PageBlock::Fit(uint64_t bytes) {
  if (data_ == nullptr || bytes > capacity_)
    return Allocate(bytes);
  size_ = static_cast<size_t>(bytes);
  return true;
}
