#include "shell/wide_path_win.h"

#include "batch/long_path.h"

SystemError WidePath(const char* path, std::wstring& wide) {
  const int chars = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (chars == 0)
    return GetLastError();
  std::wstring given(static_cast<size_t>(chars), L'\0');
  if (!MultiByteToWideChar(CP_ACP, 0, path, -1, given.data(), chars))
    return GetLastError();
  const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (needed == 0)
    return GetLastError();
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
  if (length == 0)
    return GetLastError();
  if (length >= needed)
    return ERROR_FILENAME_EXCED_RANGE;  // the current folder changed under us
  full.resize(length);
  wide = LongPathForm(full);
  return kNoError;
}

bool NarrowName(const wchar_t* name, std::string& narrow) {
  // UTF-8 takes no best-fit characters nor asks about default ones.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  const int bytes =
      WideCharToMultiByte(CP_ACP, flags, name, -1, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
  if (bytes <= 0 || lossy)
    return false;
  narrow.assign(static_cast<size_t>(bytes), '\0');
  if (!WideCharToMultiByte(CP_ACP, flags, name, -1, narrow.data(), bytes, nullptr,
                           utf8 ? nullptr : &lossy) ||
      lossy) {
    return false;
  }
  narrow.pop_back();  // the terminator
  return true;
}
