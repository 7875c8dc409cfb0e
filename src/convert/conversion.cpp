#include "convert/conversion.h"

#include <cstdint>

namespace {

int DecodeMode(SizeChoice choice) {
  switch (choice) {
    case SIZE_HALF:
      return CODEC_DECODE_HALF;
    case SIZE_QUARTER:
      return CODEC_DECODE_QUARTER;
    case SIZE_FULL:
      break;
  }
  return CODEC_DECODE_FULL;
}

int32_t Divisor(SizeChoice choice) {
  return choice == SIZE_HALF ? 2 : choice == SIZE_QUARTER ? 4 : 1;
}

// Points a codec request at the pixels, laid out as the program keeps them.
void SetPixels(CodecProps& codec, uint8_t* pixels, int32_t width, int32_t height) {
  codec.pixelBuffer = pixels;
  codec.pixelWidth = width;
  codec.pixelHeight = height;
  codec.pixelRowPad = RowPad(width);
  codec.pixelChannels = 3;
  codec.pixelColor = CODEC_PIXEL_BGR;
}

}  // namespace

int32_t RowPad(int32_t width) {
  const int64_t bytes = 3 * static_cast<int64_t>(width);
  return static_cast<int32_t>(((bytes + 3) & ~int64_t{3}) - bytes);
}

uint64_t BlockSize(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0)
    return 0;
  return (static_cast<uint64_t>(width) + static_cast<uint64_t>(RowPad(width))) *
         static_cast<uint64_t>(height) * 3;
}

uint64_t OutputBound(int32_t width, int32_t height, const CodecMetadata& metadata) {
  if (width <= 0 || height <= 0)
    return 0;
  return CodecEncodedSizeBound(width, height) + metadata.SegmentBytes();
}

bool Conversion::PrepareInput(uint64_t bytes) {
  // The codec takes the input's length in 32 bits.
  if (bytes > UINT32_MAX || !input_.Fit(bytes)) {
    input_.Release();
    inputBytes_ = 0;
    return false;
  }
  inputBytes_ = static_cast<uint32_t>(bytes);
  return true;
}

bool Conversion::HasJpegSignature() const {
  const std::span<const uint8_t> bytes = input_.bytes();
  return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

bool Conversion::ReadHeader() {
  CodecProps codec{};
  CodecInit(codec);
  codec.jpegBuffer = input_.data();
  codec.jpegSize = inputBytes_;
  codec.largeBlocks = &largeBlocks_;
  const int status = CodecRead(codec, CODEC_READ_PARAMS);
  inputWidth_ = codec.jpegWidth;
  inputHeight_ = codec.jpegHeight;
  coefficientBytes_ = codec.jpegCoefficientBytes;
  CodecFree(codec);
  return status == CODEC_OK;
}

uint64_t Conversion::MemoryNeed(SizeChoice choice) const {
  const int32_t width = inputWidth_ / Divisor(choice);
  const int32_t height = inputHeight_ / Divisor(choice);
  if (width <= 0 || height <= 0)
    return inputBytes_;
  // The encoder's coefficients take what its bound says of the copy: four
  // bytes per pixel padded to whole blocks, which the tables made for the
  // image hold through their second pass. A megabyte more for the codec's
  // row buffers and small blocks.
  const uint64_t encoder = CodecEncodedSizeBound(width, height);
  return inputBytes_ + BlockSize(width, height) + coefficientBytes_ + 2 * encoder +
         (uint64_t{1} << 20);
}

int Conversion::Decode(SizeChoice choice, CodecProgress* progress) {
  ReleaseSearch();  // the guesses were another decode's
  width_ = inputWidth_ / Divisor(choice);
  height_ = inputHeight_ / Divisor(choice);
  int status = CODEC_NO_MEMORY;
  if (pixels_.Fit(BlockSize(width_, height_))) {
    CodecProps codec{};
    CodecInit(codec);
    codec.jpegBuffer = input_.data();
    codec.jpegSize = inputBytes_;
    SetPixels(codec, pixels_.data(), width_, height_);
    codec.metadata = &metadata_;
    codec.largeBlocks = &largeBlocks_;
    codec.progress = progress;
    status = CodecRead(codec, DecodeMode(choice));
    CodecFree(codec);
  }
  if (blocks_ == Blocks::kEach) {
    // Few of the decoder's blocks would fit the encoder's requests (the
    // photo's chroma is mostly halved both ways, the copy's horizontally
    // only), and the others would add to the photo's peak.
    largeBlocks_.Release();
    if (status == CODEC_OK)
      input_.Release();
    else
      pixels_.Release();
  }
  return status;
}

int Conversion::EncodeInto(OutputBlock& out, const uint8_t* pixels, int32_t height, int32_t quality,
                           CodecMetadata* metadata, CodecProgress* progress, bool failWhenShort,
                           uint32_t& bytes) {
  bytes = 0;
  const uint64_t carried = metadata != nullptr ? metadata->SegmentBytes() : 0;
  if (!out.Prepare(width_ > 0 && height > 0 ? CodecEncodedSizeBound(width_, height) + carried : 0))
    return CODEC_NO_MEMORY;
  CodecProps codec{};
  CodecInit(codec);
  SetPixels(codec, const_cast<uint8_t*>(pixels), width_, height);
  // The whole encoding goes to the output's regions.
  codec.jpegMore = &out;
  codec.jpegWidth = width_;
  codec.jpegHeight = height;
  codec.jpegColor = CODEC_JPEG_YCBCR;
  codec.jpegSubsampling = CODEC_SUBSAMPLE_422;
  codec.quality = quality;
  codec.metadata = metadata;
  codec.largeBlocks = &largeBlocks_;
  codec.progress = progress;
  codec.failWhenShort = failWhenShort;
  const int status = CodecWrite(codec, CODEC_ENCODE_BUFFER);
  if (status == CODEC_OK)
    bytes = codec.jpegSize;
  CodecFree(codec);
  return status;
}

int Conversion::Encode(int32_t quality, CodecProgress* progress, bool failWhenShort) {
  return EncodeInto(copy_, pixels_.data(), height_, quality, &metadata_, progress, failWhenShort,
                    copyBytes_);
}

void Conversion::ReleaseWork() {
  pixels_.Release();
  metadata_.Clear();
  largeBlocks_.Release();
  copy_.Release();
  copyBytes_ = 0;
  ReleaseSearch();
}

void Conversion::ReleaseSearch() {
  spare_.Release();
  sample_.Release();
  sampleHeight_ = 0;
  sampleCopy_.Release();
  sampleBytes_.fill(0);
}

void Conversion::Release() {
  ReleaseWork();
  input_.Release();
  inputBytes_ = 0;
}
