#include "dialogs/quality_dialog.h"

void EncodeAtQuality(PhotoWork& photo, int32_t quality, CodecProgress* progress) {
  photo.encodeStatus = photo.conversion.Encode(quality, progress);
}

QualityTexts QualityDialogTexts(const PhotoWork& photo, const UserChoices& choices) {
  const Conversion& conversion = photo.conversion;
  return {std::to_string(conversion.Width()) + " by " + std::to_string(conversion.Height()),
          std::to_string(choices.quality), KbText(conversion.InputBytes()),
          KbText(conversion.CopyBytes())};
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

QualityResult DecideQuality(UserChoices& choices, const PhotoWork& photo,
                            std::string_view fieldText, bool sameForRest) {
  choices.sameForRest = sameForRest && photo.morePhotosFollow;
  const int32_t typed = QualityFromText(fieldText);
  if (typed == choices.quality)
    return QUALITY_SAVE;
  choices.quality = typed;
  return QUALITY_RETRY;
}
