// The Windows program's one job state. The window procedure that the system
// calls reaches it here; the portable code takes it as an argument.
#pragma once

#include "batch/job_state.h"

extern JobState Job;
