// A JPEG's marker segments, walked and edited byte by byte: the frame
// header's size, segments added after the start, those before the scan.
#include "files.h"

#include <algorithm>
#include <cstddef>

#include "frame_offset.h"

namespace e2e {

void AppendBig16(Bytes& out, size_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void AppendBig32(Bytes& out, size_t value) {
  AppendBig16(out, value >> 16);
  AppendBig16(out, value & 0xFFFF);
}

bool IsFrameMarker(uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

size_t SegmentLength(const Bytes& jpeg, size_t at) {
  return static_cast<size_t>(jpeg.at(at + 2)) << 8 | jpeg.at(at + 3);
}

size_t FrameOffset(const Bytes& jpeg) {
  size_t at = 2;
  while (at + 9 < jpeg.size() && jpeg[at] == 0xFF) {
    if (IsFrameMarker(jpeg[at + 1]))
      return at;
    at += 2 + SegmentLength(jpeg, at);
  }
  return 0;
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
