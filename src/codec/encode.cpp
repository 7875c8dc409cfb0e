// The encode, on libjpeg's jpeglib API, into the caller's buffer and regions.
#include <algorithm>
#include <cstdint>

#include "codec/codec.h"
#include "codec/error_trap.h"
#include "codec/large_blocks.h"
#include "codec/metadata_segments.h"
#include "codec/pixel_rows.h"
#include "codec/progress_watch.h"

namespace {

// A destination over the caller's buffer, then the regions of its
// CodecOutput, that never writes past any of them. libjpeg asks for more room
// as soon as free_in_buffer reaches zero, even when the encoding ends exactly
// there. So where no more room can be had it moves on to one spare byte, and
// only a further request, once that byte is written too, means the encoding
// does not fit: for the reason the room ran out.
struct BufferDestination {
  jpeg_destination_mgr pub;  // first, so that cinfo->dest converts back
  JOCTET* buffer;
  size_t capacity;
  CodecOutput* more;
  size_t regionSize;       // of the region being written
  uint64_t writtenBefore;  // the bytes of the regions filled before it
  JOCTET spare;
  bool on_spare;
  int why_no_room;  // CODEC_OUTPUT_FULL or CODEC_NO_MEMORY, once on the spare byte
};

void MoveToRegion(BufferDestination* dest, std::span<uint8_t> region) {
  dest->regionSize = region.size();
  dest->pub.next_output_byte = region.data();
  dest->pub.free_in_buffer = region.size();
}

// Moves to the next region that has room, or to the spare byte.
void MoveOn(BufferDestination* dest) {
  dest->why_no_room = CODEC_OUTPUT_FULL;
  if (dest->more != nullptr) {
    std::span<uint8_t> region;
    dest->why_no_room = dest->more->NextRegion(region);
    if (dest->why_no_room == CODEC_OK && !region.empty()) {
      MoveToRegion(dest, region);
      return;
    }
    if (dest->why_no_room == CODEC_OK)
      dest->why_no_room = CODEC_OUTPUT_FULL;
  }
  dest->on_spare = true;
  dest->regionSize = 0;
  dest->pub.next_output_byte = &dest->spare;
  dest->pub.free_in_buffer = 1;
}

void StartDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<BufferDestination*>(cinfo->dest);
  dest->writtenBefore = 0;
  dest->on_spare = false;
  if (dest->more != nullptr)
    dest->more->Rewind();
  if (dest->capacity > 0) {
    MoveToRegion(dest, {dest->buffer, dest->capacity});
  } else {
    MoveOn(dest);
  }
}

boolean EmptyDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<BufferDestination*>(cinfo->dest);
  if (dest->on_spare)
    FailWith(reinterpret_cast<j_common_ptr>(cinfo), dest->why_no_room);
  dest->writtenBefore += dest->regionSize;
  MoveOn(dest);
  return TRUE;
}

void FinishDestination(j_compress_ptr) {}

uint64_t WrittenLength(const BufferDestination* dest) {
  if (dest->on_spare)
    return dest->writtenBefore;
  return dest->writtenBefore + dest->regionSize - dest->pub.free_in_buffer;
}

// Encodes the pixel rows and returns the length of the encoding; may jump
// back through the trap.
uint64_t WriteJpeg(j_compress_ptr cinfo, BufferDestination* dest, const CodecProps* props,
                   boolean optimize) {
  dest->buffer = props->jpegBuffer;
  dest->capacity = props->jpegBuffer != nullptr ? props->jpegSize : 0;
  dest->more = props->jpegMore;
  dest->pub.init_destination = StartDestination;
  dest->pub.empty_output_buffer = EmptyDestination;
  dest->pub.term_destination = FinishDestination;
  cinfo->dest = &dest->pub;

  cinfo->image_width = static_cast<JDIMENSION>(props->pixelWidth);
  cinfo->image_height = static_cast<JDIMENSION>(props->pixelHeight);
  cinfo->input_components = kBgrBytes;
  cinfo->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(cinfo);
  cinfo->comp_info[0].h_samp_factor = 2;
  cinfo->comp_info[0].v_samp_factor = 1;
  for (int c = 1; c < 3; ++c) {
    cinfo->comp_info[c].h_samp_factor = 1;
    cinfo->comp_info[c].v_samp_factor = 1;
  }
  jpeg_set_quality(cinfo, props->quality, TRUE);
  // Tables made for the image: a second pass over its coefficients, held in
  // memory, for a few percent fewer bytes of the same pixels.
  cinfo->optimize_coding = optimize;

  jpeg_start_compress(cinfo, TRUE);
  if (props->metadata != nullptr)
    WriteMetadata(cinfo, *props->metadata);
  const size_t stride = RowStride(*props);
  JSAMPROW rows[kRowsPerCall];
  while (cinfo->next_scanline < cinfo->image_height) {
    const JDIMENSION first = cinfo->next_scanline;
    const JDIMENSION count = std::min(kRowsPerCall, cinfo->image_height - first);
    for (JDIMENSION i = 0; i < count; ++i)
      rows[i] = props->pixelBuffer + (first + i) * stride;
    jpeg_write_scanlines(cinfo, rows, count);
  }
  jpeg_finish_compress(cinfo);
  return WrittenLength(dest);
}

// Holds everything an encode needs that must outlive a jump back.
struct EncodeJob {
  jpeg_compress_struct cinfo;
  ErrorTrap trap;
  BufferDestination dest;
};

int RunEncode(EncodeJob* job, const CodecProps* props, ProgressWatch* watch, boolean optimize,
              uint64_t* written) {
  job->cinfo.err = InstallTrap(&job->trap, CODEC_FAILED);
  job->cinfo.client_data = props->largeBlocks;  // kept by jpeg_create_compress
  if (setjmp(job->trap.jump)) {
    jpeg_destroy_compress(&job->cinfo);
    return job->trap.failure;
  }
  jpeg_create_compress(&job->cinfo);
  Watch(reinterpret_cast<j_common_ptr>(&job->cinfo), watch);
  *written = WriteJpeg(&job->cinfo, &job->dest, props, optimize);
  jpeg_destroy_compress(&job->cinfo);
  return CODEC_OK;
}

bool ValidEncodeRequest(const CodecProps& props) {
  const bool room =
      props.jpegMore != nullptr || (props.jpegBuffer != nullptr && props.jpegSize > 0);
  return ValidPixelLayout(props) && props.pixelBuffer != nullptr && room && props.pixelWidth > 0 &&
         props.pixelHeight > 0 && props.pixelWidth <= JPEG_MAX_DIMENSION &&
         props.pixelHeight <= JPEG_MAX_DIMENSION && props.jpegColor == CODEC_JPEG_YCBCR &&
         props.jpegSubsampling == CODEC_SUBSAMPLE_422;
}

}  // namespace

int CodecWrite(CodecProps& props, int mode) {
  if (mode != CODEC_ENCODE_BUFFER || !ValidEncodeRequest(props)) {
    props.jpegSize = 0;
    return CODEC_BAD_REQUEST;
  }
  uint64_t written = 0;
  // One watch for both runs below, so that reports never go back.
  ProgressWatch watch;
  BeginWatch(&watch, props.progress);
  EncodeJob job{};
  int status = RunEncode(&job, &props, &watch, TRUE, &written);
  if (status == CODEC_NO_MEMORY && !props.failWhenShort) {
    // No room for the second pass: the standard tables need none, and the
    // copy is made all the same, a little larger. What the failed run kept
    // would only stand in their way.
    if (props.largeBlocks != nullptr)
      props.largeBlocks->Release();
    job = EncodeJob{};
    status = RunEncode(&job, &props, &watch, FALSE, &written);
  }
  if (status == CODEC_OK && written > UINT32_MAX)
    status = CODEC_OUTPUT_FULL;
  props.jpegSize = status == CODEC_OK ? static_cast<uint32_t>(written) : 0;
  return status;
}

uint64_t CodecEncodedSizeBound(int32_t width, int32_t height) {
  const uint64_t padded_width = (static_cast<uint64_t>(std::max(width, 0)) + 15) / 16 * 16;
  const uint64_t padded_height = (static_cast<uint64_t>(std::max(height, 0)) + 7) / 8 * 8;
  return padded_width * padded_height * 4 + 2048;
}
