#include "corpus.h"

#include <algorithm>
#include <string>
#include <utility>

namespace e2e {

namespace {

// Any marker may follow any number of these.
const Bytes kFill = {0xFF, 0xFF};

void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// A marker segment: the marker, the length (which counts itself) and the
// body.
void AppendSegment(Bytes& out, uint8_t marker, const Bytes& body) {
  Append(out, {0xFF, marker});
  AppendBig16(out, body.size() + 2);
  Append(out, body);
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// Bytes that look like nothing in particular, the same on every run.
void AppendScrambled(Bytes& out, size_t count, uint32_t seed) {
  for (size_t i = 0; i < count; ++i)
    out.push_back(ScrambledByte(seed));
}

uint32_t Crc32(const Bytes& bytes, size_t from) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = from; i < bytes.size(); ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void AppendPngChunk(Bytes& out, const char* type, const Bytes& data) {
  AppendBig32(out, static_cast<uint32_t>(data.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  Append(out, data);
  AppendBig32(out, Crc32(out, typeAt));
}

}  // namespace

Bytes GrainyPhoto(bool progressive) {
  JpegRecipe recipe;
  recipe.width = 320;
  recipe.height = 240;
  recipe.picture = JpegRecipe::Picture::kNoise;
  recipe.progressive = progressive;
  return MakeJpeg(recipe);
}

Bytes Flat(JpegRecipe::Space space, std::vector<uint8_t> colour) {
  JpegRecipe recipe;
  recipe.space = space;
  recipe.picture = JpegRecipe::Picture::kFlat;
  recipe.flat = std::move(colour);
  return MakeJpeg(recipe);
}

Bytes RedInCmyk() {
  return Flat(JpegRecipe::Space::kCmyk, {255, 0, 0, 255});
}

Bytes BlueInYcck() {
  return Flat(JpegRecipe::Space::kYcck, {0, 0, 255, 255});
}

Bytes OddlyMarked() {
  JpegRecipe recipe;
  recipe.width = 160;
  recipe.height = 120;
  recipe.restartRows = 1;
  return WithOddMarkers(MakeJpeg(recipe));
}

Bytes Truncated(const Bytes& file, int percent) {
  return Bytes(file.begin(),
               file.begin() + static_cast<std::ptrdiff_t>(file.size() * percent / 100));
}

Bytes WithTrailingGarbage(const Bytes& jpeg) {
  Bytes out = jpeg;
  Append(out, {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF});
  AppendScrambled(out, 4090, 7);
  return out;
}

Bytes WithOddMarkers(const Bytes& jpeg) {
  Bytes out = {0xFF, 0xD8};
  size_t at = 2;
  // The segments before the scan, each after fill bytes, with the new ones
  // among them.
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const uint8_t marker = jpeg[at + 1];
    const size_t end = at + 2 + SegmentLength(jpeg, at);
    Append(out, kFill);
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at),
               jpeg.begin() + static_cast<std::ptrdiff_t>(end));
    if (marker == 0xE0) {
      Bytes icc = Text("ICC_PROFILE");
      Append(icc, {0, 1, 1});
      AppendScrambled(icc, 300, 2);
      Append(out, kFill);
      AppendSegment(out, 0xE2, icc);
      Bytes photoshop = Text("Photoshop 3.0");
      photoshop.push_back(0);
      Append(photoshop, Text("8BIM"));
      AppendScrambled(photoshop, 200, 13);
      Append(out, kFill);
      AppendSegment(out, 0xED, photoshop);
    }
    if (IsFrameMarker(marker)) {
      std::string comment;
      while (comment.size() < 65533)
        comment += "A comment as long as a segment can hold. ";
      comment.resize(65533);
      Append(out, kFill);
      AppendSegment(out, 0xFE, Text(comment));
    }
    at = end;
  }
  Bytes app15;
  AppendScrambled(app15, 1000, 15);
  Append(out, kFill);
  AppendSegment(out, 0xEF, app15);
  // The scan: its header, then the entropy-coded data, where fill bytes go
  // before each restart marker and before the end marker. A 0xFF of the
  // data itself is always followed by a stuffed 0x00.
  Append(out, kFill);
  for (; at < jpeg.size(); ++at) {
    const bool markerNext =
        jpeg[at] == 0xFF && at + 1 < jpeg.size() &&
        ((jpeg[at + 1] >= 0xD0 && jpeg[at + 1] <= 0xD7) || jpeg[at + 1] == 0xD9);
    if (markerNext)
      Append(out, kFill);
    out.push_back(jpeg[at]);
  }
  return out;
}

Bytes WithoutQuantizationTables(const Bytes& jpeg) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);  // SOI
  size_t at = 2;
  for (const Segment& segment : SegmentsBeforeScan(jpeg)) {
    const size_t length = SegmentLength(jpeg, at);
    if (segment.marker != 0xDB)
      out.insert(out.end(), jpeg.begin() + at, jpeg.begin() + at + 2 + length);
    at += 2 + length;
  }
  out.insert(out.end(), jpeg.begin() + at, jpeg.end());  // the scans and the end
  return out;
}

Bytes LosslessJpeg(int width, int height) {
  Bytes out = {0xFF, 0xD8};
  // SOF3: 8-bit samples, one component, not subsampled.
  const auto high = [](int value) { return static_cast<uint8_t>(value >> 8); };
  const auto low = [](int value) { return static_cast<uint8_t>(value); };
  AppendSegment(out, 0xC3, {8, high(height), low(height), high(width), low(width), 1, 1, 0x11, 0});
  // Huffman table 0 (the kind lossless coding uses): a single code, one bit
  // long, for difference category 0.
  Bytes table = {0x00, 1};
  table.resize(table.size() + 15, 0);
  table.push_back(0);
  AppendSegment(out, 0xC4, table);
  // The scan: the component with table 0; predictor 1 (left), in the place
  // of the spectral start; no point transform.
  AppendSegment(out, 0xDA, {1, 1, 0x00, 1, 0, 0});
  // Every sample is 128, which is also the first one's prediction (half the
  // range), so every difference is 0: one 0 bit per sample.
  out.resize(out.size() + static_cast<size_t>(width) * height / 8, 0x00);
  Append(out, {0xFF, 0xD9});
  return out;
}

Bytes Png(int width, int height) {
  Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes header;
  AppendBig32(header, static_cast<uint32_t>(width));
  AppendBig32(header, static_cast<uint32_t>(height));
  Append(header, {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no filter, not interlaced
  AppendPngChunk(out, "IHDR", header);

  Bytes raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // row filter: none
    for (int x = 0; x < width; ++x)
      Append(raw, {static_cast<uint8_t>(x * 16), static_cast<uint8_t>(y * 16), 128});
  }
  // zlib with stored deflate blocks, then the Adler-32 of the raw bytes.
  Bytes zlib = {0x78, 0x01};
  for (size_t at = 0; at < raw.size();) {
    const size_t length = std::min<size_t>(raw.size() - at, 65535);
    zlib.push_back(at + length == raw.size() ? 1 : 0);
    Append(zlib, {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                  static_cast<uint8_t>(~length), static_cast<uint8_t>(~length >> 8)});
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                raw.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  uint32_t a = 1, b = 0;
  for (const uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  AppendBig32(zlib, b << 16 | a);
  AppendPngChunk(out, "IDAT", zlib);
  AppendPngChunk(out, "IEND", {});
  return out;
}

}  // namespace e2e
