#include "batch/photo_walk.h"

#include <string_view>
#include <utility>

#include "batch/folder_walk.h"

namespace {

// The folder's path without separators at its end, which the walk adds
// itself; a drive's root ("C:\") keeps its own.
std::string WithoutEndSeparators(std::string_view path, LeadByteRule isLeadByte) {
  size_t keep = path.size();
  // Separators are found by whole characters: a double-byte character's
  // second byte may be a backslash's.
  while (keep > 0 && FileNameStart(path.substr(0, keep), isLeadByte) == keep) {
    const std::string_view rest = path.substr(0, keep - 1);
    if (rest.empty() || (rest.size() == 2 && rest[1] == ':'))
      break;
    keep = keep - 1;
  }
  return std::string(path.substr(0, keep));
}

}  // namespace

bool PhotoWalk::Next() {
  told_.reset();
  if (nextInFolder_ < folderPhotos_.size()) {
    current_ = folderPhotos_[nextInFolder_++];
    ++number_;
    return true;
  }
  folderPhotos_.clear();
  nextInFolder_ = 0;
  if (started_)
    paths_.Advance();
  started_ = true;
  if (paths_.AtEnd())
    return false;
  const char* path = paths_.Current();
  if (path == nullptr) {
    // As the system would answer an open of a path that long.
    told_ = PhotoOutcome::Error(kErrorFilenameTooLong, BatchEnding::kLeaveHostOpen);
  } else if (platform_.IsFolder(path)) {
    EnterFolder(path);
  } else {
    current_ = path;
    ++number_;
  }
  return true;
}

void PhotoWalk::EnterFolder(const char* path) {
  FolderPhotos found = FindPhotos(platform_, WithoutEndSeparators(path, platform_.LeadBytes()),
                                  platform_.LeadBytes());
  platform_.EndFolderSearch();
  if (found.error != 0) {
    // As an input that cannot be opened.
    told_ = PhotoOutcome::Error(found.error, BatchEnding::kLeaveHostOpen);
  } else if (found.stopped) {
    told_ = PhotoOutcome::Stop();
  } else if (found.photos.empty()) {
    told_ = PhotoOutcome::Message(NoPhotosText(path));
  } else {
    folderPhotos_ = std::move(found.photos);
    current_ = folderPhotos_[0];
    nextInFolder_ = 1;
    ++number_;
  }
}

bool PhotoWalk::MoreFollow() const {
  return nextInFolder_ < folderPhotos_.size() || paths_.Following() > 0;
}
