// Files on disk as the tests see them: fixtures made and checked, and JPEGs
// looked into with libjpeg itself rather than the program's own codec.
// Paths and names are UTF-8 and reach the system through its W-functions,
// whatever code page the test program itself runs in.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace e2e {

using Bytes = std::vector<uint8_t>;

// An environment variable set by scripts/e2e; empty when missing.
std::string Env(const char* name);

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// Appends a value as 2 or 4 bytes, most significant first, as JPEG and
// big-endian Exif store them.
void AppendBig16(Bytes& out, size_t value);
void AppendBig32(Bytes& out, size_t value);

std::optional<Bytes> ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const Bytes& bytes);
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
bool MakeFolder(const std::string& path);
// The names in a folder, without "." and "..".
std::set<std::string> FolderNames(const std::string& folder);
// Removes a folder with everything in it, then makes it anew, empty.
bool FreshFolder(const std::string& folder);
bool RemoveTree(const std::string& path);

// The system's text for an error code, exactly as FormatMessage gives it.
std::string SystemText(DWORD code);

struct JpegFacts {
  bool headerRead = false;
  bool decoded = false;  // every scanline came out without an error
  int width = 0;
  int height = 0;
  int components = 0;
  int hSampling[3] = {};
  int vSampling[3] = {};
  bool progressive = false;
  int frameMarker = 0;  // 0xC0 for baseline
  int bitsPerSample = 0;
  int firstLuminanceQuant = 0;  // the luminance table's DC entry
  // The picture's average colour, 0 to 255 per channel, once decoded.
  double meanRed = 0;
  double meanGreen = 0;
  double meanBlue = 0;
  // The ICC profile as libjpeg reassembles it from the APP2 chunks; empty
  // when there is none.
  Bytes iccProfile;
  std::string error;
};
JpegFacts InspectJpeg(const Bytes& jpeg);

// The luminance DC quantizer that libjpeg's quality scaling gives for
// `quality`, baseline-limited as the encoder does it.
int LuminanceQuantFor(int quality);

// A baseline JPEG of a colour gradient, 4:2:0, quality 90.
Bytes MakeJpeg(int width, int height);

// How a test photo is made when the plain one above will not do.
struct JpegRecipe {
  enum class Space {
    kRgb,   // stored as YCbCr, as cameras do
    kGray,  // one component
    kCmyk,  // four components, inverted as Adobe's programs store them
    kYcck,  // the same CMYK stored as YCCK
  };
  enum class Picture {
    kGradient,  // smooth: compresses to little
    kNoise,     // pseudo-random: compresses hardly at all, like a grainy photo
    kFlat,      // every pixel the colour in `flat`, one value per component
  };
  int width = 64;
  int height = 48;
  Space space = Space::kRgb;
  Picture picture = Picture::kGradient;
  std::vector<uint8_t> flat;
  bool progressive = false;
  int restartRows = 0;  // a restart marker every this many MCU rows; 0: none
};
Bytes MakeJpeg(const JpegRecipe& recipe);

// A photo far larger than the samples, for the memory a 32-bit program has:
// `sample` (a JPEG) enlarged twice, smoothly, and mirrored into tiles so that
// their edges meet, each tile a little lighter or darker than its
// neighbours, with a fine grain over all. RGB stored as YCbCr 4:2:0 at
// quality 90, baseline or progressive: about 1.6 bits a pixel, as phones'
// photos take, so that a copy of it is as large as a real one's.
Bytes MakeBigPhoto(const Bytes& sample, int width, int height, bool progressive);

// Whether a JPEG marker starts a frame: C0 to CF, but not C4 (Huffman
// tables), C8 (reserved) or CC (arithmetic conditioning).
bool IsFrameMarker(uint8_t marker);
// The length of the marker segment at `at`, which counts its own two bytes
// but not the marker's.
size_t SegmentLength(const Bytes& jpeg, size_t at);
// The next byte of a sequence that looks like nothing in particular and is
// the same on every run from the same `state`.
uint8_t ScrambledByte(uint32_t& state);

// The width and height the frame header gives; 0 by 0 when there is none.
struct FrameDimensions {
  int width = 0;
  int height = 0;
};
FrameDimensions FrameSize(const Bytes& jpeg);
// The same bytes with the frame header claiming another size.
Bytes WithFrameSize(Bytes jpeg, int width, int height);
// A marker segment: its marker and its data, after the length field.
struct Segment {
  uint8_t marker;
  Bytes data;
};
// The same JPEG with these segments right after its start, in order.
Bytes WithSegments(const Bytes& jpeg, const std::vector<Segment>& segments);
// The same JPEG with an Exif APP1 segment after its start, as a camera
// writes it: IFD0 with the camera's make "TBMCAM1" and, unless it is 0, the
// orientation; an Exif IFD with the time taken, "2024:05:17 14:03:22"; a
// GPS IFD with the place; and IFD1 with a thumbnail.
Bytes WithCameraData(const Bytes& jpeg, uint16_t orientation = 0);
// An ICC display profile whose header names `colourSpace` ("RGB ", "CMYK",
// ...), with the white point, primaries and tone curves of sRGB. Its curves
// are finely sampled, as some profiles' are, so that it takes two APP2
// segments.
Bytes IccProfile(const char (&colourSpace)[5]);
// The profile as APP2 "ICC_PROFILE" chunks of the most a segment holds.
std::vector<Segment> IccChunks(const Bytes& profile);
// The segments before the first scan, in order.
std::vector<Segment> SegmentsBeforeScan(const Bytes& jpeg);
// Their markers (0xE0 for APP0, 0xE1 for APP1, ...).
std::vector<int> MarkersBeforeScan(const Bytes& jpeg);

}  // namespace e2e
