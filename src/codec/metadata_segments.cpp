#include "codec/metadata_segments.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec/error_trap.h"
#include "codec/exif_orientation.h"

namespace {

constexpr unsigned int kExifHeaderBytes = 6;
constexpr JOCTET kExifHeader[kExifHeaderBytes] = {'E', 'x', 'i', 'f', 0, 0};
// "ICC_PROFILE\0", then the chunk's number and the chunk count.
constexpr JOCTET kIccHeader[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
constexpr unsigned int kIccChunkHeaderBytes = sizeof kIccHeader + 2;

// An ICC profile's header: its size, then at 16 the colour space of the data.
constexpr size_t kIccHeaderBytes = 128;
constexpr size_t kIccSpaceAt = 16;
constexpr JOCTET kIccRgb[4] = {'R', 'G', 'B', ' '};

// What each APP2 chunk of an ICC profile adds: marker, length and the chunk
// header.
constexpr uint64_t kIccChunkData = 65519;
constexpr uint64_t kIccChunkOverhead = 2 + 2 + kIccChunkHeaderBytes;
constexpr uint64_t kMarkerOverhead = 2 + 2;

// Copies the source's next `count` bytes. Past the data's end the memory
// source gives EOI markers, as libjpeg's own segment reader then sees.
void ReadBytes(j_decompress_ptr cinfo, JOCTET* to, size_t count) {
  jpeg_source_mgr* src = cinfo->src;
  while (count > 0) {
    if (src->bytes_in_buffer == 0 && !(*src->fill_input_buffer)(cinfo))
      FailWith(reinterpret_cast<j_common_ptr>(cinfo), CODEC_UNREADABLE);  // would suspend
    const size_t take = std::min(count, src->bytes_in_buffer);
    std::memcpy(to, src->next_input_byte, take);
    src->next_input_byte += take;
    src->bytes_in_buffer -= take;
    to += take;
    count -= take;
  }
}

// Whether a segment of this marker may hold what the copy carries.
bool Wanted(const MetadataSegments& segments, int marker) {
  if (segments.closed)
    return false;
  return marker == JPEG_APP0 + 1 ? !segments.exifSeen : !segments.iccBroken;
}

// Takes what the copy carries from one APP1 or APP2 segment's data, which
// stays where it is until the decode ends.
void Examine(MetadataSegments* segments, int marker, const JOCTET* data, unsigned int length) {
  if (!Wanted(*segments, marker))
    return;
  if (marker == JPEG_APP0 + 1) {
    if (length >= kExifHeaderBytes && std::memcmp(data, kExifHeader, kExifHeaderBytes) == 0) {
      segments->exifSeen = true;
      segments->orientation = ExifOrientation({data, length});
    }
    return;
  }
  if (length < kIccChunkHeaderBytes || std::memcmp(data, kIccHeader, sizeof kIccHeader) != 0)
    return;
  const int number = data[sizeof kIccHeader];
  const int count = data[sizeof kIccHeader + 1];
  if (segments->iccCount == 0)
    segments->iccCount = count;
  // A count that changes, a number out of range or seen before: no profile,
  // and no more chunks are looked at.
  if (count != segments->iccCount || number < 1 || number > count ||
      segments->iccChunk[number] != nullptr) {
    segments->iccBroken = true;
    return;
  }
  segments->iccChunk[number] = data + kIccChunkHeaderBytes;
  segments->iccChunkBytes[number] = length - kIccChunkHeaderBytes;
}

// A segment that runs past the data's end, read as libjpeg would read it.
void ReadCutSegment(j_decompress_ptr cinfo, MetadataSegments* segments, int marker) {
  JOCTET field[2];
  ReadBytes(cinfo, field, sizeof field);
  const unsigned int length = static_cast<unsigned int>(field[0]) << 8 | field[1];
  if (length <= 2)
    return;
  if (!Wanted(*segments, marker)) {
    (*cinfo->src->skip_input_data)(cinfo, static_cast<long>(length - 2));
    return;
  }
  auto* data = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, length - 2));
  ReadBytes(cinfo, data, length - 2);
  Examine(segments, marker, data, length - 2);
}

}  // namespace

boolean ReadMetadataSegments(j_decompress_ptr cinfo, MetadataSegments* segments) {
  jpeg_source_mgr* src = cinfo->src;
  // Local copies of the source's position, which the loop would otherwise
  // store and load again for every byte it reads.
  const JOCTET* at = src->next_input_byte;
  size_t left = src->bytes_in_buffer;
  int marker = cinfo->unread_marker;
  for (;;) {
    const unsigned int length = left >= 2 ? static_cast<unsigned int>(at[0]) << 8 | at[1] : 0;
    if (left < 2 || length > left) {
      src->next_input_byte = at;
      src->bytes_in_buffer = left;
      ReadCutSegment(cinfo, segments, marker);
      return TRUE;
    }
    if (length > 2)
      Examine(segments, marker, at + 2, length - 2);
    // A length field that claims less than itself: libjpeg skips nothing more.
    const unsigned int whole = std::max(length, 2u);
    at += whole;
    left -= whole;
    // The APP1 and APP2 segments that follow are read here too: libjpeg
    // would find each marker and call back, at several times the cost.
    if (left < 2 || at[0] != 0xFF || (at[1] != JPEG_APP0 + 1 && at[1] != JPEG_APP0 + 2))
      break;
    marker = at[1];
    at += 2;
    left -= 2;
  }
  src->next_input_byte = at;
  src->bytes_in_buffer = left;
  return TRUE;
}

JOCTET* AssembleIccProfile(j_common_ptr cinfo, const MetadataSegments& segments,
                           unsigned int* size) {
  *size = 0;
  if (segments.iccBroken || segments.iccCount == 0)
    return nullptr;
  unsigned int total = 0;  // at most 255 chunks of less than 64 KiB: no overflow
  for (int number = 1; number <= segments.iccCount; ++number) {
    if (segments.iccChunk[number] == nullptr)
      return nullptr;
    total += segments.iccChunkBytes[number];
  }
  if (total == 0)
    return nullptr;
  auto* icc = static_cast<JOCTET*>(std::malloc(total));
  if (icc == nullptr)
    FailWith(cinfo, CODEC_NO_MEMORY);
  JOCTET* to = icc;
  for (int number = 1; number <= segments.iccCount; ++number) {
    std::memcpy(to, segments.iccChunk[number], segments.iccChunkBytes[number]);
    to += segments.iccChunkBytes[number];
  }
  *size = total;
  return icc;
}

bool IsRgbProfile(const JOCTET* icc, unsigned int size) {
  if (size < kIccHeaderBytes || std::memcmp(icc + kIccSpaceAt, kIccRgb, sizeof kIccRgb) != 0)
    return false;
  const uint32_t declared = static_cast<uint32_t>(icc[0]) << 24 |
                            static_cast<uint32_t>(icc[1]) << 16 |
                            static_cast<uint32_t>(icc[2]) << 8 | icc[3];
  return declared >= kIccHeaderBytes && declared <= size;
}

void WriteMetadata(j_compress_ptr cinfo, const CodecMetadata& metadata) {
  if (IsTurningOrientation(metadata.orientation)) {
    const auto exif = ExifOrientationSegment(metadata.orientation);
    jpeg_write_marker(cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned int>(exif.size()));
  }
  if (metadata.iccProfile != nullptr)
    jpeg_write_icc_profile(cinfo, metadata.iccProfile.get(), metadata.iccProfileSize);
}

uint64_t CodecMetadata::SegmentBytes() const {
  uint64_t bytes = 0;
  if (IsTurningOrientation(orientation))
    bytes += kMarkerOverhead + kExifOrientationBytes;
  if (iccProfile != nullptr) {
    const uint64_t chunks = (iccProfileSize + kIccChunkData - 1) / kIccChunkData;
    bytes += iccProfileSize + chunks * kIccChunkOverhead;
  }
  return bytes;
}
