#include "files.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// jpeglib.h expects these declared first.
#include <jpeglib.h>

namespace e2e {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::wstring Wide(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(
      static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  const int size = static_cast<int>(wide.size());
  std::string utf8(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr,
                                                           0, nullptr, nullptr)),
                   '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), static_cast<int>(utf8.size()),
                      nullptr, nullptr);
  return utf8;
}

std::optional<Bytes> ReadBytes(const std::string& path) {
  // Shared reading, so that checking a file never disturbs the program.
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::nullopt;
  Bytes bytes;
  unsigned char chunk[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != FALSE) && got > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  CloseHandle(file);
  if (!ok)
    return std::nullopt;
  return bytes;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                              &written, nullptr) &&
                                    written == bytes.size());
  return CloseHandle(file) && ok;
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolder(const std::string& path) {
  return CreateDirectoryW(Wide(path).c_str(), nullptr) != FALSE;
}

std::set<std::string> FolderNames(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(Wide(folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return names;
  do {
    const std::string name = Utf8(found.cFileName);
    if (name != "." && name != "..")
      names.insert(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

bool RemoveTree(const std::string& path) {
  if (!Exists(path))
    return true;
  if (!IsFolder(path)) {
    SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(Wide(path).c_str()) != FALSE;
  }
  for (const std::string& name : FolderNames(path)) {
    if (!RemoveTree(path + "\\" + name))
      return false;
  }
  return RemoveDirectoryW(Wide(path).c_str()) != FALSE;
}

bool FreshFolder(const std::string& folder) {
  return RemoveTree(folder) && MakeFolder(folder);
}

std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string result = length ? Utf8(std::wstring(text, length)) : std::string();
  LocalFree(text);
  return result;
}

namespace {

struct ErrorJump {
  jpeg_error_mgr manager;
  std::jmp_buf back;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JumpOnError(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<ErrorJump*>(cinfo->err);
  cinfo->err->format_message(cinfo, error->message);
  std::longjmp(error->back, 1);
}

// Warnings (corrupt data, a premature end) count as failures: an output
// that decodes only with warnings is a broken file.
void FailOnWarning(j_common_ptr cinfo, int level) {
  if (level < 0)
    JumpOnError(cinfo);
}

// Where the first start-of-frame marker sits;
// 0 when there is none.
size_t FrameOffset(const Bytes& jpeg) {
  size_t at = 2;
  while (at + 9 < jpeg.size() && jpeg[at] == 0xFF) {
    if (IsFrameMarker(jpeg[at + 1]))
      return at;
    at += 2 + SegmentLength(jpeg, at);
  }
  return 0;
}

}  // namespace

JpegFacts InspectJpeg(const Bytes& jpeg) {
  JpegFacts facts;
  jpeg_decompress_struct cinfo{};
  ErrorJump error{};
  cinfo.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JumpOnError;
  error.manager.emit_message = FailOnWarning;
  if (setjmp(error.back)) {
    facts.error = error.message;
    jpeg_destroy_decompress(&cinfo);
    return facts;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  facts.headerRead = true;
  facts.width = static_cast<int>(cinfo.image_width);
  facts.height = static_cast<int>(cinfo.image_height);
  facts.components = cinfo.num_components;
  for (int c = 0; c < cinfo.num_components && c < 3; ++c) {
    facts.hSampling[c] = cinfo.comp_info[c].h_samp_factor;
    facts.vSampling[c] = cinfo.comp_info[c].v_samp_factor;
  }
  facts.progressive = cinfo.progressive_mode != FALSE;
  if (const size_t frame = FrameOffset(jpeg))
    facts.frameMarker = jpeg[frame + 1];
  facts.bitsPerSample = cinfo.data_precision;
  if (cinfo.quant_tbl_ptrs[0])
    facts.firstLuminanceQuant = cinfo.quant_tbl_ptrs[0]->quantval[0];

  jpeg_start_decompress(&cinfo);
  const int channels = cinfo.output_components;
  std::vector<JSAMPLE> row(static_cast<size_t>(cinfo.output_width) * channels);
  JSAMPROW rows[1] = {row.data()};
  double sums[3] = {};
  while (cinfo.output_scanline < cinfo.output_height) {
    jpeg_read_scanlines(&cinfo, rows, 1);
    for (size_t at = 0; at < row.size(); at += channels) {
      for (int c = 0; c < 3; ++c)
        sums[c] += row[at + (channels == 3 ? c : 0)];
    }
  }
  jpeg_finish_decompress(&cinfo);
  const double pixels = static_cast<double>(cinfo.output_width) * cinfo.output_height;
  if (pixels > 0 && (channels == 3 || channels == 1)) {
    facts.meanRed = sums[0] / pixels;
    facts.meanGreen = sums[1] / pixels;
    facts.meanBlue = sums[2] / pixels;
  }
  jpeg_destroy_decompress(&cinfo);
  facts.decoded = true;
  return facts;
}

int LuminanceQuantFor(int quality) {
  if (quality < 1)
    quality = 1;
  if (quality > 100)
    quality = 100;
  const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
  const int value = (16 * scale + 50) / 100;  // 16: the standard table's DC entry
  return value < 1 ? 1 : value > 255 ? 255 : value;
}

bool IsFrameMarker(uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

size_t SegmentLength(const Bytes& jpeg, size_t at) {
  return static_cast<size_t>(jpeg.at(at + 2)) << 8 | jpeg.at(at + 3);
}

uint8_t ScrambledByte(uint32_t& state) {
  state = state * 1664525u + 1013904223u;  // a linear congruential step
  return static_cast<uint8_t>(state >> 24);
}

Bytes MakeJpeg(int width, int height) {
  JpegRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  return MakeJpeg(recipe);
}

namespace {

using Space = JpegRecipe::Space;

int ComponentsOf(Space space) {
  switch (space) {
    case Space::kGray:
      return 1;
    case Space::kCmyk:
    case Space::kYcck:
      return 4;
    case Space::kRgb:
      break;
  }
  return 3;
}

// One row of the recipe's picture, `components` samples per pixel.
void FillRow(const JpegRecipe& recipe, int y, uint32_t& noise, std::vector<JSAMPLE>& row) {
  const int components = ComponentsOf(recipe.space);
  for (int x = 0; x < recipe.width; ++x) {
    JSAMPLE* pixel = row.data() + static_cast<size_t>(x) * components;
    for (int c = 0; c < components; ++c) {
      switch (recipe.picture) {
        case JpegRecipe::Picture::kFlat:
          pixel[c] = recipe.flat.at(static_cast<size_t>(c));
          break;
        case JpegRecipe::Picture::kNoise:
          pixel[c] = ScrambledByte(noise);
          break;
        case JpegRecipe::Picture::kGradient:
          pixel[c] =
              static_cast<JSAMPLE>(c == 0   ? x * 255 / (recipe.width > 1 ? recipe.width - 1 : 1)
                                   : c == 1 ? y * 255 / (recipe.height > 1 ? recipe.height - 1 : 1)
                                   : c == 2 ? 128
                                            : 255);  // inverted CMYK: no black
          break;
      }
    }
  }
}

}  // namespace

Bytes MakeJpeg(const JpegRecipe& recipe) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = static_cast<JDIMENSION>(recipe.width);
  cinfo.image_height = static_cast<JDIMENSION>(recipe.height);
  cinfo.input_components = ComponentsOf(recipe.space);
  cinfo.in_color_space = recipe.space == Space::kGray  ? JCS_GRAYSCALE
                         : recipe.space == Space::kRgb ? JCS_RGB
                                                       : JCS_CMYK;
  jpeg_set_defaults(&cinfo);  // CMYK in: CMYK stored, with Adobe's marker
  if (recipe.space == Space::kYcck)
    jpeg_set_colorspace(&cinfo, JCS_YCCK);
  jpeg_set_quality(&cinfo, 90, TRUE);
  if (recipe.progressive)
    jpeg_simple_progression(&cinfo);
  cinfo.restart_in_rows = recipe.restartRows;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(recipe.width) * cinfo.input_components);
  uint32_t noise = 12345;
  while (cinfo.next_scanline < cinfo.image_height) {
    FillRow(recipe, static_cast<int>(cinfo.next_scanline), noise, row);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(out, out + outSize);
  std::free(out);
  return bytes;
}

Bytes WithFrameSize(Bytes jpeg, int width, int height) {
  // After the marker: length, precision, then height and width, big-endian.
  const size_t frame = FrameOffset(jpeg);
  if (frame == 0)
    return {};
  jpeg[frame + 5] = static_cast<uint8_t>(height >> 8);
  jpeg[frame + 6] = static_cast<uint8_t>(height);
  jpeg[frame + 7] = static_cast<uint8_t>(width >> 8);
  jpeg[frame + 8] = static_cast<uint8_t>(width);
  return jpeg;
}

Bytes WithCameraData(const Bytes& jpeg) {
  // "Exif", then a little-endian TIFF structure: IFD0 with the make and a
  // pointer to the GPS IFD, which holds latitude 51 deg 30' 26" N.
  const Bytes exif = {
      'E',  'x',  'i', 'f', 0,   0,                          //
      'I',  'I',  42,  0,   8,   0,   0,   0,                // TIFF header, IFD0 at 8
      2,    0,                                               // IFD0: two entries
      0x0F, 0x01, 2,   0,   8,   0,   0,   0, 38,  0, 0, 0,  // Make, ASCII[8] at 38
      0x25, 0x88, 4,   0,   1,   0,   0,   0, 46,  0, 0, 0,  // GPS IFD at 46
      0,    0,    0,   0,                                    // no IFD1
      'T',  'B',  'M', 'C', 'A', 'M', '1', 0,                // 38: the make
      2,    0,                                               // GPS IFD: two entries
      0x01, 0x00, 2,   0,   2,   0,   0,   0, 'N', 0, 0, 0,  // latitude ref "N"
      0x02, 0x00, 5,   0,   3,   0,   0,   0, 76,  0, 0, 0,  // latitude, 3 rationals at 76
      0,    0,    0,   0,                                    // no next IFD
      51,   0,    0,   0,   1,   0,   0,   0, 30,  0, 0, 0, 1, 0, 0, 0,  // 76: 51/1, 30/1,
      26,   0,    0,   0,   1,   0,   0,   0};                           // 26/1
  const size_t length = exif.size() + 2;
  Bytes segment = {0xFF, 0xE1, static_cast<uint8_t>(length >> 8),
                   static_cast<uint8_t>(length & 0xFF)};
  segment.insert(segment.end(), exif.begin(), exif.end());
  Bytes out = jpeg;
  out.insert(out.begin() + 2, segment.begin(), segment.end());  // after SOI
  return out;
}

std::vector<int> MarkersBeforeScan(const Bytes& jpeg) {
  std::vector<int> markers;
  size_t at = 2;
  while (at + 3 < jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    markers.push_back(jpeg[at + 1]);
    at += 2 + SegmentLength(jpeg, at);
  }
  return markers;
}

}  // namespace e2e
