// A zero-filled block of memory from the platform's page allocator, released
// when the PageBlock goes out of scope (or by Release). Move-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The largest block the program asks for: about 2 GiB, more than one piece
// of even a large-address-aware 32-bit process's 4 GiB can be once the
// system's DLLs are placed. Larger requests fail at once, on every platform,
// so the program behaves alike wherever it is built.
inline constexpr uint64_t kMaxBlockBytes = 0x7FFF0000;

class PageBlock {
 public:
  PageBlock() = default;
  PageBlock(const PageBlock&) = delete;
  PageBlock& operator=(const PageBlock&) = delete;
  PageBlock(PageBlock&& other) noexcept;
  PageBlock& operator=(PageBlock&& other) noexcept;
  ~PageBlock() { Release(); }

  // Replaces what the block held by a new zero-filled block of exactly
  // `bytes` bytes. A request of 0 bytes succeeds with an empty block. On
  // failure (no memory, or more than kMaxBlockBytes) the block is empty and
  // the result false.
  bool Allocate(uint64_t bytes);
  void Release();

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  std::span<uint8_t> bytes() const { return {data_, size_}; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
