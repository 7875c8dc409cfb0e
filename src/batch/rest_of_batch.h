// After a Save with "Same for the rest": every photo after the current one,
// at the same choices, without dialogs. Worker threads read, decode and
// encode them; the program's own thread keeps the "Saving copies" window,
// writes the copies and tells what there is to tell, in batch order, so that
// the copies and messages are those one thread would make.
#pragma once

#include "batch/input_list.h"
#include "batch/job_state.h"
#include "batch/photo_outcome.h"
#include "batch/photo_walk.h"
#include "batch/platform.h"

// The photos after the walk's current one.
BatchEnding RunRest(JobState& job, Platform& platform, InputMode mode, PhotoWalk& walk);
