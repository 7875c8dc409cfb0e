#include "batch/folder_walk.h"

#include <algorithm>

namespace {

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// Lower case, so that the punctuation between the two cases ([ \ ] ^ _ `)
// sorts before the letters, as in Explorer.
uint8_t FoldCase(uint8_t c) {
  return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + ('a' - 'A')) : c;
}

// The bytes of the character at `at`: two for a lead byte with a byte after
// it, else one. A double-byte character's second byte may be an ASCII
// letter's, which must not be folded.
size_t CharacterBytes(std::string_view text, size_t at, LeadByteRule isLeadByte) {
  return isLeadByte(static_cast<uint8_t>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

// The end of the run of digits from `at`.
size_t DigitsEnd(std::string_view text, size_t at) {
  while (at < text.size() && IsDigit(static_cast<uint8_t>(text[at])))
    ++at;
  return at;
}

// A run of digits without its leading zeros: the number's significant digits.
std::string_view Significant(std::string_view digits) {
  const size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view() : digits.substr(first);
}

// Compares names as Explorer does: <0, 0 or >0. Runs of digits compare as
// numbers of any length (fewer significant digits first, then digit by
// digit), so nothing overflows; other single-byte characters by their value
// after folding ASCII letters to lower case; a double-byte character by its
// lead byte, then its second byte unfolded. The system compares by the
// user's locale, which may order punctuation and non-ASCII letters
// differently. 0 for names that differ only in letter case or in zeros
// leading a number.
int CompareLogical(std::string_view a, std::string_view b, LeadByteRule isLeadByte) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<uint8_t>(a[i]);
    const auto cb = static_cast<uint8_t>(b[j]);
    if (IsDigit(ca) && IsDigit(cb)) {
      const size_t endA = DigitsEnd(a, i);
      const size_t endB = DigitsEnd(b, j);
      const std::string_view na = Significant(a.substr(i, endA - i));
      const std::string_view nb = Significant(b.substr(j, endB - j));
      if (na.size() != nb.size())
        return na.size() < nb.size() ? -1 : 1;
      if (const int order = na.compare(nb))
        return order;
      i = endA;
      j = endB;
      continue;
    }
    // A digit against anything else compares by its byte: no other byte
    // folds into the digits' range, so every number sits at one place among
    // the characters.
    if (FoldCase(ca) != FoldCase(cb))
      return FoldCase(ca) < FoldCase(cb) ? -1 : 1;
    const size_t lengthA = CharacterBytes(a, i, isLeadByte);
    const size_t lengthB = CharacterBytes(b, j, isLeadByte);
    if (lengthA != lengthB)
      return lengthA < lengthB ? -1 : 1;  // a lead byte alone at the end first
    if (lengthA == 2 && a[i + 1] != b[j + 1])
      return static_cast<uint8_t>(a[i + 1]) < static_cast<uint8_t>(b[j + 1]) ? -1 : 1;
    i += lengthA;
    j += lengthB;
  }
  if (i < a.size() || j < b.size())
    return i < a.size() ? 1 : -1;
  return 0;
}

}  // namespace

bool LogicalNameLess(std::string_view a, std::string_view b, LeadByteRule isLeadByte) {
  if (const int order = CompareLogical(a, b, isLeadByte))
    return order < 0;
  // Names Explorer sees as equal ("a01" and "a1", "a.jpg" and "A.JPG") still
  // need an order for the sort: their bytes give one.
  return a < b;
}
