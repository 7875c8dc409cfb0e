#include "dialogs/size_dialog.h"

namespace {

std::string ByText(int32_t width, int32_t height) {
  return std::to_string(width) + " by " + std::to_string(height);
}

}  // namespace

std::array<std::string, 3> SizeOptionTexts(int32_t width, int32_t height) {
  return {ByText(width, height), ByText(width / 2, height / 2), ByText(width / 4, height / 4)};
}

SizeResult ConfirmSize(PhotoWork& photo, SizeChoice choice, CodecProgress* progress) {
  switch (photo.conversion.Decode(choice, progress)) {
    case CODEC_OK:
      return SIZE_CONFIRMED;
    case CODEC_NO_MEMORY:
      return SIZE_NO_MEMORY;
    case CODEC_CANCELLED:
      return SIZE_CANCELLED;
    default:
      return SIZE_UNREADABLE;
  }
}
