// Collects the checks that failed, each under the context it was made in.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "checks.h"

namespace fuzz_checks {

class Report {
 public:
  bool Check(bool holds, std::string_view what) {
    if (!holds)
      found_.push_back(context_ + std::string(what));
    return holds;
  }
  void SetContext(std::string context) { context_ = std::move(context); }
  bool Clean() const { return found_.empty(); }
  Violations Take() { return std::move(found_); }

 private:
  std::string context_;
  Violations found_;
};

}  // namespace fuzz_checks
