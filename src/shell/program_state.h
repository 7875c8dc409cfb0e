// The Windows program's one job state. The window procedure that the system
// calls reaches it here; the portable code takes it as an argument.
#pragma once

#include <atomic>

#include "batch/job_state.h"

extern JobState Job;

// Set when Windows ends the session (a logoff or a shutdown, WM_ENDSESSION):
// the work in hand stops and the batch ends.
inline std::atomic<bool> SessionEnding{false};
