// The output's name: the input's, with an X before the first dot of the file
// name (at its end when there is no dot), in the input's folder; and the
// temporary name a copy is written under until it is whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Paths and names, terminator included.
inline constexpr size_t kPathBytes = 260;
using PathBuffer = std::array<char, kPathBytes>;

// Where a photo's copy goes, and the name it is shown under.
struct PhotoNames {
  PathBuffer OutputPath{};
  PathBuffer DisplayName{};
};

// Whether a byte starts a double-byte character in the code page the paths
// are in. Such a character's second byte may be that of a backslash (0x5C in
// ソ, 表 or 能 in code page 932), so the file-name part is found by stepping
// over whole characters.
using LeadByteRule = bool (*)(uint8_t byte);

// The rule of single-byte code pages and of UTF-8, whose characters of
// several bytes hold no byte below 0x80.
bool NoLeadBytes(uint8_t byte);

// The bytes of the character at `at`: two for a lead byte with a byte after
// it, else one, as the system's CharNextA steps.
size_t CharacterBytes(std::string_view text, size_t at, LeadByteRule isLeadByte);

// A name or path as the file system matches it: ASCII letters in either case
// are the same, outside double-byte characters, whose second byte may be an
// ASCII letter's. (NTFS folds other letters too, which matters only for a
// file renamed in case since.)
std::string MatchKey(std::string_view name, LeadByteRule isLeadByte);

// Where a path's file-name part starts: after its last backslash or slash.
size_t FileNameStart(std::string_view path, LeadByteRule isLeadByte = NoLeadBytes);

// The path with an X before the first dot of its file-name part (at its end
// when the name has no dot): C:\pics\img.jpg gives C:\pics\imgX.jpg.
std::string XName(std::string_view path, LeadByteRule isLeadByte = NoLeadBytes);

// Fills OutputPath with the input path's XName. False when it does not fit;
// OutputPath is then empty and nothing was written past it.
bool BuildOutputPath(PhotoNames& names, std::string_view inputPath,
                     LeadByteRule isLeadByte = NoLeadBytes);

// Fills DisplayName with the file-name part of OutputPath.
void BuildDisplayName(PhotoNames& names, LeadByteRule isLeadByte = NoLeadBytes);

// A name for the file a copy is written to before it takes the output's
// name: in the output's folder, "tbm" and `attempt` in four hexadecimal
// digits, ".tmp". Its name is short whatever the output's is, so it fits in
// the folder wherever the output does; the caller tries attempt after
// attempt until a name is free.
std::string TemporaryPath(std::string_view outputPath, uint32_t attempt, LeadByteRule isLeadByte);
