#include "dialogs/quality_dialog.h"

void EncodeAtQuality(JobState& job, CodecProps& codec, CodecProgress* progress) {
  CodecInit(codec);
  codec.pixelBuffer = job.pixelBuffer.data();
  codec.pixelWidth = job.width;
  codec.pixelHeight = job.height;
  codec.pixelRowPad = RowPad(job.width);
  codec.pixelChannels = 3;
  codec.pixelColor = CODEC_PIXEL_BGR;
  // The whole encoding goes to the output buffer's regions.
  codec.jpegBuffer = nullptr;
  codec.jpegSize = 0;
  codec.jpegMore = &job.outputBuffer;
  codec.jpegWidth = job.width;
  codec.jpegHeight = job.height;
  codec.jpegColor = CODEC_JPEG_YCBCR;
  codec.jpegSubsampling = CODEC_SUBSAMPLE_422;
  codec.quality = job.quality;
  codec.jpegFileName = nullptr;
  codec.metadata = &job.metadata;
  codec.largeBlocks = &job.largeBlocks;
  codec.progress = progress;
  job.encodeStatus = CodecWrite(codec, CODEC_ENCODE_BUFFER);
  job.encodedSize = job.encodeStatus == CODEC_OK ? codec.jpegSize : 0;
  CodecFree(codec);
}

QualityTexts QualityDialogTexts(const JobState& job) {
  return {std::to_string(job.width) + " by " + std::to_string(job.height),
          std::to_string(job.quality), KbText(job.fileSize), KbText(job.encodedSize)};
}

int32_t QualityFromText(std::string_view text) {
  text = text.substr(0, 9);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  int32_t value = 0;  // nine characters hold at most nine digits: no overflow
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

QualityResult DecideQuality(JobState& job, std::string_view fieldText, bool sameForRest) {
  job.sameForRest = sameForRest && job.morePhotosFollow;
  const int32_t typed = QualityFromText(fieldText);
  if (typed == job.quality)
    return QUALITY_SAVE;
  job.quality = typed;
  return QUALITY_RETRY;
}
