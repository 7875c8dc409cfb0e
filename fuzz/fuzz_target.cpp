// A libFuzzer target: the checks of the target named by TBM_FUZZ_TARGET on
// every input, stopping at the first input that breaks one so that libFuzzer
// keeps it as a reproducer.
#include <cstdio>
#include <cstdlib>

#include "checks.h"

namespace {
const fuzz_checks::Target* target = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  target = fuzz_checks::FindTarget(TBM_FUZZ_TARGET);
  if (target == nullptr) {
    std::fprintf(stderr, "no fuzz target named %s\n", TBM_FUZZ_TARGET);
    std::exit(2);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz_checks::Violations found = target->check({data, size});
  for (const std::string& line : found)
    std::fprintf(stderr, "%s check failed: %s\n", TBM_FUZZ_TARGET, line.c_str());
  if (!found.empty())
    std::abort();
  return 0;
}
