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
  // The same, but keeps the pages it holds when they are enough for `bytes`:
  // the block then holds what it held, and spares the first touch of fresh
  // pages. The photos of a batch done without dialogs take their blocks so.
  bool Fit(uint64_t bytes);
  void Release();

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  std::span<uint8_t> bytes() const { return {data_, size_}; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;  // what the pages hold, from the last Allocate
};
