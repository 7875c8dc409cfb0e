// One step of a longer work, reported as its share of the whole: the step's
// 0 to 1 becomes `from` to `to` of what the outer progress is told.
#pragma once

#include "codec/codec.h"

class StepProgress final : public CodecProgress {
 public:
  // `outer` may be null: nothing is reported, and the step is never stopped.
  StepProgress(CodecProgress* outer, double from, double to)
      : outer_(outer), from_(from), to_(to) {}
  bool Report(double done) noexcept override {
    return outer_ == nullptr || outer_->Report(from_ + done * (to_ - from_));
  }

 private:
  CodecProgress* outer_;
  const double from_;
  const double to_;
};
