// libjpeg takes its memory from the program (src/codec/large_blocks.cpp
// supplies its jmemsys functions): small blocks straight from the C heap,
// large ones (row buffers, whole-image coefficients) from the LargeBlocks of
// the operation's CodecProps, reached through the libjpeg object's
// client_data, or from the C heap when there is none.
//
// Every libjpeg object in a program that links this must therefore have
// client_data null or pointing to a LargeBlocks when jpeg_create_* runs.
#pragma once

#include <array>
#include <cstddef>

// Keeps the large blocks that libjpeg gives back for its later requests.
// Re-encoding a photo at another quality asks for the same sizes and finds
// them already touched, which spares a page fault per 4 KiB. What is kept
// goes when the owner says so (Release), and when a request finds memory
// short.
class LargeBlocks {
 public:
  // Requests of more than `largest` bytes fail as if memory were short.
  explicit LargeBlocks(size_t largest) : largest_(largest) {}
  ~LargeBlocks() { Release(); }
  LargeBlocks(const LargeBlocks&) = delete;
  LargeBlocks& operator=(const LargeBlocks&) = delete;

  // A block of at least `bytes` bytes: for a large request the smallest kept
  // one that holds them, else a new one from the C heap. Null when `bytes` is over the largest or
  // memory is short even once every kept block has been freed. The block goes
  // back through Give.
  void* Take(size_t bytes) noexcept;
  // Takes back a block from Take, asked for with `bytes`: kept for a later
  // Take, or freed when it is small or no room is left to note it.
  void Give(void* block, size_t bytes) noexcept;
  // Frees every kept block. Blocks handed out stay with their holder.
  void Release() noexcept;

 private:
  struct Block {
    void* data = nullptr;
    size_t size = 0;    // what it holds, which may be more than was asked
    bool lent = false;  // handed out by Take, not yet given back
  };
  // An encode asks for a dozen or so large blocks; more are not worth keeping.
  static constexpr size_t kMaxKept = 32;

  // Smaller blocks come from the heap's own free lists, warm already.
  static constexpr size_t kKeptAtLeast = 64 * 1024;

  Block* Find(const void* data) noexcept;

  std::array<Block, kMaxKept> blocks_{};
  const size_t largest_;
};
