// The segments a copy carries from its original: what a decode keeps of the
// input's APP1 and APP2 segments, and how an encode writes them.
//
// libjpeg can save segments for us, but it appends each saved one by walking
// its list, so a file of many small segments costs the square of their
// count: 150,000 empty APP1 segments (600 KB) would keep the decoder busy for
// minutes. Instead, a marker processor reads the APP1 and APP2 segments as
// the headers are read, and keeps only what the copy can carry: the first
// Exif segment's orientation, and the chunks of an ICC profile (at most 255,
// each looked at where it lies). Every other segment is passed over at a
// constant cost per byte.
#pragma once

#include <cstdint>
// Before jpeglib.h, which uses FILE and size_t without declaring them.
#include <cstdio>

#include <jpeglib.h>

#include "codec/codec.h"

// An ICC profile is stored in chunks numbered 1 to their count, at most 255.
inline constexpr int kMaxIccChunks = 255;

// What the marker processor found, in the headers before the first scan.
struct MetadataSegments {
  bool closed;           // nothing more is wanted: segments are passed over
  bool exifSeen;         // the first Exif segment has been read
  uint16_t orientation;  // its orientation, 0 when it has none
  int iccCount;          // the chunk count the first ICC chunk declares; 0: none yet
  bool iccBroken;        // the chunks cannot make one profile
  // By number; null: not seen. The data lies in the input, or in libjpeg's
  // image pool for a chunk cut short by the input's end.
  const JOCTET* iccChunk[kMaxIccChunks + 1];
  unsigned int iccChunkBytes[kMaxIccChunks + 1];
};

// The body of the APP1 and APP2 marker processor: reads the segment of
// cinfo->unread_marker, and the APP1 and APP2 segments right after it, from
// cinfo's source into *segments. The input must stay in place until the
// decode ends, and the source must never suspend: the memory source is both.
boolean ReadMetadataSegments(j_decompress_ptr cinfo, MetadataSegments* segments);

// The ICC profile the chunks make, as libjpeg's jpeg_read_icc_profile would:
// every chunk from 1 to the count present once, with one count throughout,
// and some data. Null, with *size 0, when they make none. The profile comes
// from malloc: the caller frees it. Jumps back through the trap with
// CODEC_NO_MEMORY when it cannot be had.
JOCTET* AssembleIccProfile(j_common_ptr cinfo, const MetadataSegments& segments,
                           unsigned int* size);

// An ICC profile that describes 3-component RGB data, as the copy's are.
bool IsRgbProfile(const JOCTET* icc, unsigned int size);

// The copy's metadata, right after the JFIF header: the orientation in an
// Exif segment of its own, then the colour profile.
void WriteMetadata(j_compress_ptr cinfo, const CodecMetadata& metadata);
