#include "batch/folder_walk.h"

#include <algorithm>
#include <unordered_set>

namespace {

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// Lower case, so that the punctuation between the two cases ([ \ ] ^ _ `)
// sorts before the letters, as in Explorer.
uint8_t FoldCase(uint8_t c) {
  return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + ('a' - 'A')) : c;
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

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  return std::equal(text.begin(), text.end(), lower.begin(), lower.end(), [](char c, char l) {
    return FoldCase(static_cast<uint8_t>(c)) == static_cast<uint8_t>(l);
  });
}

// `folder` followed by a separator, unless it ends with one already (a
// drive's root). Its last byte may be a double-byte character's second byte
// that happens to be a backslash's, so its characters are stepped whole.
std::string Prefix(std::string_view folder, LeadByteRule isLeadByte) {
  const bool endsWithSeparator =
      !folder.empty() && FileNameStart(folder, isLeadByte) == folder.size();
  std::string prefix(folder);
  if (!endsWithSeparator)
    prefix += '\\';
  return prefix;
}

// Adds the photos among one folder's entries to `photos` (after `prefix`, the
// folder and its separator), in order, and leaves in `subfolders` the names
// of those to enter, in order.
void TakeFolder(const std::string& prefix, const std::vector<FolderEntry>& entries,
                LeadByteRule isLeadByte, std::vector<std::string>& photos,
                std::vector<std::string_view>& subfolders) {
  // Every JPEG file is an original, even a hidden one: its copy beside it is
  // still this program's work, not a photo.
  std::unordered_set<std::string> copies;
  for (const FolderEntry& entry : entries) {
    if (!entry.folder && IsJpegName(entry.name))
      copies.insert(MatchKey(XName(entry.name, isLeadByte), isLeadByte));
  }
  std::vector<std::string_view> files;
  subfolders.clear();
  for (const FolderEntry& entry : entries) {
    if (entry.hidden)
      continue;
    if (entry.folder) {
      // A link may lead back up the tree, or to another volume the user
      // did not choose.
      if (!entry.link)
        subfolders.push_back(entry.name);
    } else if (IsJpegName(entry.name) && !copies.contains(MatchKey(entry.name, isLeadByte))) {
      files.push_back(entry.name);
    }
  }
  const auto less = [isLeadByte](std::string_view a, std::string_view b) {
    return LogicalNameLess(a, b, isLeadByte);
  };
  std::sort(files.begin(), files.end(), less);
  std::sort(subfolders.begin(), subfolders.end(), less);
  for (std::string_view name : files) {
    photos.push_back(prefix + std::string(name));
  }
}

}  // namespace

bool IsJpegName(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos)
    return false;
  const std::string_view extension = name.substr(dot + 1);
  for (std::string_view jpeg : {"jpg", "jpeg", "jpe", "jfif"}) {
    if (EqualsIgnoringCase(extension, jpeg))
      return true;
  }
  return false;
}

bool LogicalNameLess(std::string_view a, std::string_view b, LeadByteRule isLeadByte) {
  if (const int order = CompareLogical(a, b, isLeadByte))
    return order < 0;
  // Names Explorer sees as equal ("a01" and "a1", "a.jpg" and "A.JPG") still
  // need an order for the sort: their bytes give one.
  return a < b;
}

FolderPhotos FindPhotos(FolderLister& lister, std::string_view folder, LeadByteRule isLeadByte) {
  FolderPhotos result;
  // The folders still to list, the next on top. A stack of our own rather
  // than recursion: a tree may be deeper than the thread's stack allows.
  std::vector<std::string> pending{std::string(folder)};
  std::vector<FolderEntry> entries;
  std::vector<std::string_view> subfolders;
  size_t listed = 0;
  while (!pending.empty()) {
    const std::string current = std::move(pending.back());
    pending.pop_back();
    entries.clear();
    const uint32_t error = lister.List(current, entries);
    ++listed;
    if (error == 0) {
      // Only the top folder may end with a separator; the paths the walk
      // makes never do, and looking through each would cost as much again.
      const std::string prefix = listed == 1 ? Prefix(current, isLeadByte) : current + '\\';
      TakeFolder(prefix, entries, isLeadByte, result.photos, subfolders);
      // Pushed last to first, so the first is listed next: depth first.
      for (auto name = subfolders.rbegin(); name != subfolders.rend(); ++name) {
        pending.push_back(prefix + std::string(*name));
      }
    } else if (listed == 1) {
      result.error = error;
      return result;
    }
    if (!lister.Listed(listed, result.photos.size())) {
      result.stopped = true;
      return result;
    }
  }
  return result;
}
