// What cameras and editors put before the picture: an Exif segment with its
// IFDs and thumbnail, and an ICC profile split into APP2 chunks.
#include "files.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

namespace e2e {

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

}  // namespace e2e
