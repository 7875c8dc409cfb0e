// libjpeg's progress monitor, which it calls every few rows of every pass,
// including the passes inside jpeg_start_decompress (a progressive photo's
// scans) and jpeg_finish_compress (the second pass of tables made for the
// image). It tells the caller's CodecProgress how far the work has come, and
// ends through the error trap a decode that reads too many scans or any
// operation the caller calls off.
#pragma once

#include "codec/codec.h"
#include "codec/error_trap.h"

struct ProgressWatch {
  jpeg_progress_mgr pub;  // first, so that cinfo->progress converts back
  CodecProgress* hook;    // null: nothing is reported
  double reported;        // the furthest reported so far: reports never go back
};

// Starts a watch for one operation, which may run libjpeg more than once.
void BeginWatch(ProgressWatch* watch, CodecProgress* hook);

// Makes the watch libjpeg's progress monitor (after jpeg_create_*, which
// clears cinfo->progress).
void Watch(j_common_ptr cinfo, ProgressWatch* watch);
