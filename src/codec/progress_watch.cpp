#include "codec/progress_watch.h"

#include <algorithm>

namespace {

// A real photo has about ten scans; thousands of them are a crafted file that
// would keep the decoder busy for minutes.
constexpr int kMaxScans = 500;

// How far libjpeg says it is: whole passes done and the share of the current
// one. A pass's limit may grow as it runs (libjpeg guesses a progressive
// photo's scans), so this can go back; the caller keeps the furthest.
double Done(const jpeg_progress_mgr& progress) {
  if (progress.total_passes <= 0)
    return 0;
  double pass = 0;
  if (progress.pass_limit > 0) {
    pass = std::clamp(
        static_cast<double>(progress.pass_counter) / static_cast<double>(progress.pass_limit), 0.0,
        1.0);
  }
  return std::clamp((progress.completed_passes + pass) / progress.total_passes, 0.0, 1.0);
}

void Monitor(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    FailWith(cinfo, CODEC_UNREADABLE);
  }
  auto* watch = reinterpret_cast<ProgressWatch*>(cinfo->progress);
  if (watch->hook == nullptr)
    return;
  watch->reported = std::max(watch->reported, Done(watch->pub));
  if (!watch->hook->Report(watch->reported))
    FailWith(cinfo, CODEC_CANCELLED);
}

}  // namespace

void BeginWatch(ProgressWatch* watch, CodecProgress* hook) {
  *watch = ProgressWatch{};
  watch->pub.progress_monitor = Monitor;
  watch->hook = hook;
}

void Watch(j_common_ptr cinfo, ProgressWatch* watch) {
  cinfo->progress = &watch->pub;
}
