// A kernel handle closed when it goes out of scope. Move-only.
#pragma once

#include <windows.h>

#include <utility>

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other)
      Reset(std::exchange(other.handle_, INVALID_HANDLE_VALUE));
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

  // Closes what is held; true when there was nothing or it closed cleanly.
  bool Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    const bool closed = !valid() || CloseHandle(handle_) != 0;
    handle_ = handle;
    return closed;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};
