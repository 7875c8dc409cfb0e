#include "batch/output_naming.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The first dot at or after `from`, or the path's end.
size_t FirstDot(std::string_view path, size_t from, LeadByteRule isLeadByte) {
  size_t i = from;
  while (i < path.size() && path[i] != '.')
    i += CharacterBytes(path, i, isLeadByte);
  return std::min(i, path.size());
}

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool NoLeadBytes(uint8_t) {
  return false;
}

size_t CharacterBytes(std::string_view text, size_t at, LeadByteRule isLeadByte) {
  return isLeadByte(static_cast<uint8_t>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

std::string MatchKey(std::string_view name, LeadByteRule isLeadByte) {
  std::string key(name);
  for (size_t i = 0; i < key.size(); i += CharacterBytes(key, i, isLeadByte)) {
    if (key[i] >= 'A' && key[i] <= 'Z')
      key[i] = static_cast<char>(key[i] + ('a' - 'A'));
  }
  return key;
}

// Windows takes the slash as a separator too, so the X never lands in a
// folder name written with slashes.
size_t FileNameStart(std::string_view path, LeadByteRule isLeadByte) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); i += CharacterBytes(path, i, isLeadByte)) {
    if (path[i] == '\\' || path[i] == '/')
      start = i + 1;
  }
  return start;
}

std::string XName(std::string_view path, LeadByteRule isLeadByte) {
  const size_t head = FirstDot(path, FileNameStart(path, isLeadByte), isLeadByte);
  std::string named(path.substr(0, head));
  named += 'X';
  named += path.substr(head);
  return named;
}

bool BuildOutputPath(PhotoNames& names, std::string_view inputPath, LeadByteRule isLeadByte) {
  auto& out = names.OutputPath;
  out.fill('\0');
  if (inputPath.size() + 1 >= out.size())
    return false;  // the X and the terminator
  const std::string named = XName(inputPath, isLeadByte);
  std::copy(named.begin(), named.end(), out.begin());
  return true;
}

void BuildDisplayName(PhotoNames& names, LeadByteRule isLeadByte) {
  const std::string_view path(names.OutputPath.data(),
                              strnlen(names.OutputPath.data(), kPathBytes));
  const std::string_view name = path.substr(FileNameStart(path, isLeadByte));
  names.DisplayName.fill('\0');
  std::copy(name.begin(), name.end(), names.DisplayName.begin());
}

std::string TemporaryPath(std::string_view outputPath, uint32_t attempt, LeadByteRule isLeadByte) {
  size_t folderEnd = FileNameStart(outputPath, isLeadByte);
  // "C:name" lies in drive C's current folder, which the temporary file
  // must share: a move between drives fails.
  if (folderEnd == 0 && outputPath.size() >= 2 && IsAsciiLetter(outputPath[0]) &&
      outputPath[1] == ':') {
    folderEnd = 2;
  }
  char name[16];
  std::snprintf(name, sizeof name, "tbm%04X.tmp", static_cast<unsigned>(attempt & 0xFFFF));
  return std::string(outputPath.substr(0, folderEnd)) + name;
}
