// The search behind "at most N KB", measured in tbm_bench (bench/search.cpp).
#pragma once

#include <string>
#include <vector>

// Registers, for each photo of `photos` (a label, a tab and a path a line) at
// full and half size, its encode at 90 and its searches within each of
// `percents` of the photo's file size, each timed as the best of
// `repetitions`.
void RegisterSearches(const std::vector<std::string>& photos, const std::vector<int>& percents,
                      int repetitions);
