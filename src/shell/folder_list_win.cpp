// Folders on Windows: what they hold, listed with the wide calls at any
// length, and the window that shows a long listing.
#include <windows.h>

#include <string>

#include "shell/platform_win.h"
#include "shell/wide_path_win.h"

namespace {

// A listing shorter than this shows no window.
constexpr ULONGLONG kQuietMs = 500;

// Closes a search handle when it goes out of scope.
struct FindHandle {
  HANDLE handle;
  ~FindHandle() {
    if (handle != INVALID_HANDLE_VALUE)
      FindClose(handle);
  }
};

}  // namespace

bool WindowsPlatform::IsFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint32_t WindowsPlatform::List(const std::string& folder, std::vector<FolderEntry>& entries) {
  std::wstring pattern;
  if (const SystemError error = WidePath(folder.c_str(), pattern); error != kNoError)
    return error;
  if (pattern.back() != L'\\')
    pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found{};
  const FindHandle search{FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH)};
  if (search.handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A drive's root has no "." or "..": empty, it finds nothing at all.
    return error == ERROR_FILE_NOT_FOUND ? kNoError : error;
  }
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..")
      continue;
    FolderEntry entry;
    // A name the program's code page cannot spell could not be opened.
    if (!NarrowName(found.cFileName, entry.name))
      continue;
    const DWORD attributes = found.dwFileAttributes;
    entry.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.hidden = (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
    entry.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries.push_back(std::move(entry));
  } while (FindNextFileW(search.handle, &found));
  const DWORD error = GetLastError();
  return error == ERROR_NO_MORE_FILES ? kNoError : error;
}

bool WindowsPlatform::Listed(size_t folders, size_t photos) {
  const ULONGLONG now = GetTickCount64();
  if (searchStart_ == 0)
    searchStart_ = now;
  if (now - searchStart_ >= kQuietMs)
    batch_.ShowSearch(folders, photos);
  // Before the window shows, the program's other windows answer all the same.
  KeepAnswering();
  return batch_.Report(0);
}

void WindowsPlatform::EndFolderSearch() {
  searchStart_ = 0;
  batch_.Close();
}
