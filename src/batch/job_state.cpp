#include "batch/job_state.h"

std::string KbText(uint32_t bytes) {
  return std::to_string(bytes >> 10) + " KB";
}
