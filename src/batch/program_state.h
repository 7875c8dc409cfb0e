// The Windows program's one job state and codec record. The window and
// dialog procedures that the system calls reach them here; the portable
// code takes them as arguments.
#pragma once

#include "batch/job_state.h"
#include "codec/codec.h"

extern JobState Job;
extern CodecProps Codec;
