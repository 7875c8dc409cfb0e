// The batch's photos in order: its paths, where each folder among them
// stands for the JPEG photos in it and below, as if they had been given one
// by one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "batch/input_list.h"
#include "batch/job_state.h"
#include "batch/photo_outcome.h"
#include "batch/platform.h"

class PhotoWalk {
 public:
  PhotoWalk(BatchInput& input, InputMode mode, Platform& platform)
      : paths_(input, mode), platform_(platform) {}

  // Moves to the next step: a photo, or what there is to tell in its place.
  // False at the end.
  bool Next();
  // The photo's path, valid until Next; null when the step is something to
  // tell.
  const char* Path() const { return told_ ? nullptr : current_.c_str(); }
  // What to tell in a photo's place: a chosen name too long for a path, a
  // folder that cannot be listed or holds no photo, a folder's listing the
  // user stopped.
  const std::optional<PhotoOutcome>& Told() const { return told_; }
  // Whether another path, or another photo of the folder in hand, follows.
  bool MoreFollow() const;
  // The photo's place among the batch's photos, from 1.
  size_t Number() const { return number_; }

 private:
  // The photos of the folder at `path`, or what to tell instead.
  void EnterFolder(const char* path);

  PathWalk paths_;
  Platform& platform_;
  bool started_ = false;
  std::vector<std::string> folderPhotos_;  // the folder in hand's, in order
  size_t nextInFolder_ = 0;
  std::string current_;
  std::optional<PhotoOutcome> told_;
  size_t number_ = 0;
};
