#include "files.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

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
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  facts.headerRead = true;
  JOCTET* profile = nullptr;
  unsigned int profileSize = 0;
  // Chunks that do not add up to one profile draw a warning, so a failure.
  if (jpeg_read_icc_profile(&cinfo, &profile, &profileSize)) {
    facts.iccProfile.assign(profile, profile + profileSize);
    std::free(profile);
  }
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

// Encodes a width by height image at quality 90 with libjpeg's defaults for
// the input `setup` gives (components, colour space, then any change of the
// defaults), taking its rows one at a time from `fill`.
Bytes EncodeRows(const std::function<void(jpeg_compress_struct&)>& setup, int width, int height,
                 const std::function<void(int y, std::vector<JSAMPLE>& row)>& fill) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  setup(cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * cinfo.input_components);
  while (cinfo.next_scanline < cinfo.image_height) {
    fill(static_cast<int>(cinfo.next_scanline), row);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(out, out + outSize);
  std::free(out);
  return bytes;
}

}  // namespace

Bytes MakeJpeg(const JpegRecipe& recipe) {
  const J_COLOR_SPACE space = recipe.space == Space::kGray  ? JCS_GRAYSCALE
                              : recipe.space == Space::kRgb ? JCS_RGB
                                                            : JCS_CMYK;
  uint32_t noise = 12345;
  return EncodeRows(
      [&](jpeg_compress_struct& cinfo) {
        cinfo.input_components = ComponentsOf(recipe.space);
        cinfo.in_color_space = space;
        jpeg_set_defaults(&cinfo);  // CMYK in: CMYK stored, with Adobe's marker
        if (recipe.space == Space::kYcck)
          jpeg_set_colorspace(&cinfo, JCS_YCCK);
        if (recipe.progressive)
          jpeg_simple_progression(&cinfo);
        cinfo.restart_in_rows = recipe.restartRows;
      },
      recipe.width, recipe.height,
      [&](int y, std::vector<JSAMPLE>& row) { FillRow(recipe, y, noise, row); });
}

namespace {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<JSAMPLE> rgb;  // rows of width RGB pixels
};

Picture DecodeRgb(const Bytes& jpeg) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);  // the samples decode: exiting is fine
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  Picture picture;
  picture.width = static_cast<int>(cinfo.output_width);
  picture.height = static_cast<int>(cinfo.output_height);
  picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row =
        picture.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * picture.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return picture;
}

// The picture `zoom` times as wide and high, interpolated bilinearly.
Picture Enlarged(const Picture& small, int zoom) {
  Picture big;
  big.width = small.width * zoom;
  big.height = small.height * zoom;
  big.rgb.resize(static_cast<size_t>(big.width) * big.height * 3);
  auto at = [&](int x, int y, int c) {
    return static_cast<int>(small.rgb[(static_cast<size_t>(y) * small.width + x) * 3 + c]);
  };
  for (int y = 0; y < big.height; ++y) {
    const int y0 = y / zoom, y1 = std::min(y0 + 1, small.height - 1);
    const int wy = (y % zoom) * 256 / zoom;
    for (int x = 0; x < big.width; ++x) {
      const int x0 = x / zoom, x1 = std::min(x0 + 1, small.width - 1);
      const int wx = (x % zoom) * 256 / zoom;
      for (int c = 0; c < 3; ++c) {
        const int top = at(x0, y0, c) * (256 - wx) + at(x1, y0, c) * wx;
        const int bottom = at(x0, y1, c) * (256 - wx) + at(x1, y1, c) * wx;
        big.rgb[(static_cast<size_t>(y) * big.width + x) * 3 + c] =
            static_cast<JSAMPLE>((top * (256 - wy) + bottom * wy + (1 << 15)) >> 16);
      }
    }
  }
  return big;
}

}  // namespace

Bytes MakeBigPhoto(const Bytes& sample, int width, int height, bool progressive) {
  constexpr int kZoom = 2;
  constexpr int kGrain = 6;  // grain from -6 to +6 on every sample
  const Picture tile = Enlarged(DecodeRgb(sample), kZoom);
  // Grain from a table, read from a different place on each row: drawing it
  // afresh for 600 million samples would take most of the time.
  std::vector<int> grain(static_cast<size_t>(width) * 3 + 4099);
  uint32_t noise = 2024;
  for (int& g : grain)
    g = ScrambledByte(noise) % (2 * kGrain + 1) - kGrain;

  return EncodeRows(
      [&](jpeg_compress_struct& cinfo) {
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);  // 4:2:0, as cameras store it
        if (progressive)
          jpeg_simple_progression(&cinfo);
      },
      width, height,
      [&](int y, std::vector<JSAMPLE>& row) {
        const int tileRow = y / tile.height;
        const int inTile = tileRow % 2 ? tile.height - 1 - y % tile.height : y % tile.height;
        const JSAMPLE* source = tile.rgb.data() + static_cast<size_t>(inTile) * tile.width * 3;
        const int* rowGrain = grain.data() + static_cast<size_t>(y) * 7919 % 4099;
        for (int x = 0, tileColumn = 0; x < width; x += tile.width, ++tileColumn) {
          const int shade =
              static_cast<int>(
                  (static_cast<uint32_t>(tileColumn * 7 + tileRow * 13) * 2654435761u) >> 28) -
              8;
          const int count = std::min(tile.width, width - x);
          for (int i = 0; i < count; ++i) {
            const int from = tileColumn % 2 ? tile.width - 1 - i : i;
            for (int c = 0; c < 3; ++c) {
              const size_t to = (static_cast<size_t>(x) + i) * 3 + c;
              const int value = source[from * 3 + c] + shade + rowGrain[to];
              row[to] = static_cast<JSAMPLE>(std::clamp(value, 0, 255));
            }
          }
        }
      });
}

FrameDimensions FrameSize(const Bytes& jpeg) {
  const size_t frame = FrameOffset(jpeg);
  if (frame == 0)
    return {};
  return {jpeg[frame + 7] << 8 | jpeg[frame + 8], jpeg[frame + 5] << 8 | jpeg[frame + 6]};
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

Bytes WithSegments(const Bytes& jpeg, const std::vector<Segment>& segments) {
  Bytes added;
  for (const Segment& segment : segments) {
    const size_t length = segment.data.size() + 2;
    added.insert(added.end(), {0xFF, segment.marker, static_cast<uint8_t>(length >> 8),
                               static_cast<uint8_t>(length & 0xFF)});
    added.insert(added.end(), segment.data.begin(), segment.data.end());
  }
  Bytes out = jpeg;
  out.insert(out.begin() + 2, added.begin(), added.end());  // after SOI
  return out;
}

namespace {

void AppendLittle16(Bytes& out, size_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

Bytes Little16(size_t value) {
  Bytes out;
  AppendLittle16(out, value);
  return out;
}

Bytes Little32(size_t value) {
  Bytes out = Little16(value & 0xFFFF);
  AppendLittle16(out, value >> 16);
  return out;
}

void SetLittle32(Bytes& out, size_t at, size_t value) {
  const Bytes bytes = Little32(value);
  std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

// With its terminating zero, as TIFF's ASCII values are counted.
Bytes Ascii(const char* text) {
  return Bytes(text, text + std::strlen(text) + 1);
}

enum TiffType : uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

struct TiffEntry {
  uint16_t tag;
  TiffType type;
  uint32_t count;
  Bytes value;  // little-endian; more than 4 bytes go after the IFD
};

// Where an IFD's value fields and its next-IFD offset lie, for offsets that
// are set once what they point at is written.
struct IfdPlaces {
  std::vector<size_t> values;
  size_t next = 0;
};

// Appends a little-endian IFD to `tiff`, whose offsets count from its first
// byte, then the values too large for their entries.
IfdPlaces AppendIfd(Bytes& tiff, const std::vector<TiffEntry>& entries) {
  IfdPlaces places;
  const size_t outsideAt = tiff.size() + 2 + entries.size() * 12 + 4;
  Bytes outside;
  AppendLittle16(tiff, entries.size());
  for (const TiffEntry& entry : entries) {
    AppendLittle16(tiff, entry.tag);
    AppendLittle16(tiff, entry.type);
    const Bytes count = Little32(entry.count);
    tiff.insert(tiff.end(), count.begin(), count.end());
    places.values.push_back(tiff.size());
    Bytes field = entry.value;
    if (field.size() > 4) {
      field = Little32(outsideAt + outside.size());
      outside.insert(outside.end(), entry.value.begin(), entry.value.end());
      outside.resize((outside.size() + 1) & ~size_t{1});  // values start at even offsets
    }
    field.resize(4, 0);
    tiff.insert(tiff.end(), field.begin(), field.end());
  }
  places.next = tiff.size();
  tiff.insert(tiff.end(), 4, 0);
  tiff.insert(tiff.end(), outside.begin(), outside.end());
  return places;
}

}  // namespace

Bytes WithCameraData(const Bytes& jpeg, uint16_t orientation) {
  Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};  // little-endian, IFD0 at 8
  std::vector<TiffEntry> ifd0 = {{0x010F, kAscii, 8, Ascii("TBMCAM1")}};  // Make
  if (orientation != 0)
    ifd0.push_back({0x0112, kShort, 1, Little16(orientation)});
  ifd0.push_back({0x8769, kLong, 1, Little32(0)});  // the Exif IFD, set below
  ifd0.push_back({0x8825, kLong, 1, Little32(0)});  // the GPS IFD, set below
  const IfdPlaces zero = AppendIfd(tiff, ifd0);
  const size_t pointers = ifd0.size() - 2;

  SetLittle32(tiff, zero.values[pointers], tiff.size());
  AppendIfd(tiff, {{0x9003, kAscii, 20, Ascii("2024:05:17 14:03:22")}});  // DateTimeOriginal
  SetLittle32(tiff, zero.values[pointers + 1], tiff.size());
  Bytes latitude;  // 51 deg 30' 26" N: three rationals
  for (const size_t part : {51, 1, 30, 1, 26, 1}) {
    const Bytes bytes = Little32(part);
    latitude.insert(latitude.end(), bytes.begin(), bytes.end());
  }
  AppendIfd(tiff, {{0x0001, kAscii, 2, Ascii("N")}, {0x0002, kRational, 3, latitude}});

  // IFD1: a JPEG thumbnail, stored right after it.
  SetLittle32(tiff, zero.next, tiff.size());
  const Bytes thumbnail = MakeJpeg(16, 12);
  const IfdPlaces one = AppendIfd(tiff, {{0x0103, kShort, 1, Little16(6)},  // JPEG-compressed
                                         {0x0201, kLong, 1, Little32(0)},
                                         {0x0202, kLong, 1, Little32(thumbnail.size())}});
  SetLittle32(tiff, one.values[1], tiff.size());
  tiff.insert(tiff.end(), thumbnail.begin(), thumbnail.end());

  Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
  exif.insert(exif.end(), tiff.begin(), tiff.end());
  return WithSegments(jpeg, {{0xE1, exif}});
}

void AppendBig16(Bytes& out, size_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void AppendBig32(Bytes& out, size_t value) {
  AppendBig16(out, value >> 16);
  AppendBig16(out, value & 0xFFFF);
}

namespace {

void AppendText(Bytes& out, const char* text) {
  out.insert(out.end(), text, text + std::strlen(text));
}

// An XYZ number, each of the three in s15Fixed16.
void AppendXyz(Bytes& out, double x, double y, double z) {
  AppendText(out, "XYZ ");
  out.insert(out.end(), 4, 0);
  for (const double value : {x, y, z})
    AppendBig32(out, static_cast<size_t>(std::lround(value * 65536)));
}

}  // namespace

Bytes IccProfile(const char (&colourSpace)[5]) {
  // A version 2 display profile. Three curves of 11,000 steps: the profile
  // takes some 66 KB, past the 65,519 bytes of one chunk.
  constexpr size_t kCurveSteps = 11000;
  Bytes profile;
  AppendBig32(profile, 0);           // its size, set at the end
  AppendBig32(profile, 0);           // no preferred colour management module
  AppendBig32(profile, 0x02100000);  // version 2.1
  AppendText(profile, "mntr");
  AppendText(profile, colourSpace);
  AppendText(profile, "XYZ ");
  for (const size_t part : {2024, 5, 17, 14, 3, 22})  // when it was made
    AppendBig16(profile, part);
  AppendText(profile, "acsp");
  profile.insert(profile.end(), 24, 0);  // platform, flags, maker, model, attributes
  AppendBig32(profile, 0);               // perceptual intent
  Bytes d50;
  AppendXyz(d50, 0.9642, 1.0, 0.8249);
  profile.insert(profile.end(), d50.begin() + 8, d50.end());  // the illuminant
  AppendText(profile, "TBM ");
  profile.resize(128, 0);

  std::vector<std::pair<const char*, Bytes>> tags;
  Bytes description;
  AppendText(description, "desc");
  description.insert(description.end(), 4, 0);
  AppendBig32(description, 9);
  AppendText(description, "TBM test");
  description.resize(description.size() + 1 + 8 + 3 + 67, 0);  // no Unicode or Mac text
  tags.push_back({"desc", description});
  tags.push_back({"wtpt", d50});
  const double primaries[3][3] = {
      {0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}};
  const char* names[3][2] = {{"rXYZ", "rTRC"}, {"gXYZ", "gTRC"}, {"bXYZ", "bTRC"}};
  Bytes curve;
  AppendText(curve, "curv");
  curve.insert(curve.end(), 4, 0);
  AppendBig32(curve, kCurveSteps);
  for (size_t step = 0; step < kCurveSteps; ++step) {
    const double level = static_cast<double>(step) / static_cast<double>(kCurveSteps - 1);
    AppendBig16(curve, static_cast<size_t>(std::lround(65535 * std::pow(level, 2.2))));
  }
  for (int c = 0; c < 3; ++c) {
    Bytes xyz;
    AppendXyz(xyz, primaries[c][0], primaries[c][1], primaries[c][2]);
    tags.push_back({names[c][0], xyz});
    tags.push_back({names[c][1], curve});
  }

  AppendBig32(profile, tags.size());
  size_t at = profile.size() + tags.size() * 12;
  Bytes data;
  for (const auto& [signature, bytes] : tags) {
    AppendText(profile, signature);
    AppendBig32(profile, at + data.size());
    AppendBig32(profile, bytes.size());
    data.insert(data.end(), bytes.begin(), bytes.end());
    data.resize((data.size() + 3) & ~size_t{3});  // each tag starts on a 4-byte boundary
  }
  profile.insert(profile.end(), data.begin(), data.end());
  Bytes size;
  AppendBig32(size, profile.size());
  std::copy(size.begin(), size.end(), profile.begin());
  return profile;
}

std::vector<Segment> IccChunks(const Bytes& profile) {
  // A segment's 65,533 data bytes less "ICC_PROFILE\0", the chunk's number
  // and the count.
  constexpr size_t kChunkBytes = 65533 - 14;
  const size_t count = (profile.size() + kChunkBytes - 1) / kChunkBytes;
  std::vector<Segment> chunks;
  for (size_t at = 0; at < profile.size(); at += kChunkBytes) {
    Bytes data = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    data.push_back(static_cast<uint8_t>(chunks.size() + 1));
    data.push_back(static_cast<uint8_t>(count));
    const size_t end = std::min(profile.size(), at + kChunkBytes);
    data.insert(data.end(), profile.begin() + static_cast<std::ptrdiff_t>(at),
                profile.begin() + static_cast<std::ptrdiff_t>(end));
    chunks.push_back({0xE2, data});
  }
  return chunks;
}

std::vector<Segment> SegmentsBeforeScan(const Bytes& jpeg) {
  std::vector<Segment> segments;
  size_t at = 2;
  while (at + 3 < jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const size_t length = SegmentLength(jpeg, at);
    if (length < 2)
      break;
    const size_t end = std::min(jpeg.size(), at + 2 + length);
    segments.push_back({jpeg[at + 1], Bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                            jpeg.begin() + static_cast<std::ptrdiff_t>(end))});
    at = end;
  }
  return segments;
}

std::vector<int> MarkersBeforeScan(const Bytes& jpeg) {
  std::vector<int> markers;
  for (const Segment& segment : SegmentsBeforeScan(jpeg))
    markers.push_back(segment.marker);
  return markers;
}

}  // namespace e2e
