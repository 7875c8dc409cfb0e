#include "convert/quality_search.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

// Sizes lie close to a straight line when their log is set against the log
// of libjpeg's table scale (jpeg_quality_scaling: 5000/q below 50, 200 - 2q
// from there, in percent) plus this offset. Without it quality 100, whose
// scale is 0, would sit infinitely far away; table entries stop at 1 there,
// and with the offset the steps up to 100 look like those below, as
// measured on libjpeg-turbo's sample photos.
constexpr double kScaleOffset = 7.0;
// The line's slope for a typical photo, until two sizes that do not fit show
// this photo's own.
constexpr double kTypicalSlope = 0.6;

double LogScale(int quality) {
  const double scale = quality < 50 ? 5000.0 / quality : 200.0 - 2.0 * quality;
  return std::log(scale + kScaleOffset);
}

// Sizes are compared by their logs. No encoding is under a byte, so 0 counts
// as 1.
double LogBytes(uint64_t bytes) {
  return std::log(static_cast<double>(std::max<uint64_t>(bytes, 1)));
}

// The inverse of LogScale, over real qualities.
double QualityAt(double logScale) {
  const double scale = std::exp(logScale) - kScaleOffset;
  return scale >= 100 ? 5000.0 / scale : 100.0 - scale / 2.0;
}

struct Measured {
  int quality = 0;
  double logBytes = 0;
};

// What the encodes so far have shown. The answer lies in fits.quality ..
// over.quality - 1; the qualities strictly between are unknown.
struct Bracket {
  Measured fits;              // the highest quality measured that fits; 0: none
  Measured over;              // the lowest measured that does not; ceiling + 1 at first
  Measured overBefore;        // the `over` before this one; 0: none measured
  int budget = kMostEncodes;  // how many more encodes the search may ask for

  bool Closed() const { return over.quality == fits.quality + 1; }

  // The qualities the next encode may ask for: whichever way it goes, the
  // side left holds at most 2^(budget-1) - 1 unknown qualities, which
  // bisection closes within the budget that remains after it.
  std::pair<int, int> Window() const {
    const int room = 1 << (budget - 1);
    return {std::max(fits.quality + 1, over.quality - room),
            std::min(over.quality - 1, fits.quality + room)};
  }
  bool Allows(int quality) const {
    if (budget <= 0) {
      return false;
    }
    const auto [low, high] = Window();
    return low <= quality && quality <= high;
  }

  // Encodes that may still follow one at `quality`: at most the budget left
  // after it, and at most one per unknown quality on the side it leaves.
  int MostAfter(int quality) const {
    return std::min(budget - 1, std::max(quality - fits.quality - 1, over.quality - quality - 1));
  }

  Bracket After(Measured measured, bool fitted) const {
    Bracket next = *this;
    next.budget = MostAfter(measured.quality);
    if (fitted) {
      next.fits = measured;
    } else {
      next.overBefore = over;
      next.over = measured;
    }
    return next;
  }
};

// Where the size line crosses the limit, as a real quality.
double LineEstimate(const Bracket& b, double logLimit, int ceiling) {
  const double overX = LogScale(b.over.quality);
  if (b.fits.quality > 0) {
    const double fitsX = LogScale(b.fits.quality);
    const double t = (logLimit - b.fits.logBytes) / (b.over.logBytes - b.fits.logBytes);
    return QualityAt(fitsX + t * (overX - fitsX));
  }
  // Nothing fits yet: follow the line down from the lowest size measured.
  double slope = kTypicalSlope;
  const bool twoOver = b.overBefore.quality > 0 && b.overBefore.quality <= ceiling;
  if (twoOver && b.overBefore.logBytes > b.over.logBytes) {
    slope = (b.overBefore.logBytes - b.over.logBytes) / (overX - LogScale(b.overBefore.quality));
  }
  return QualityAt(overX + (b.over.logBytes - logLimit) / slope);
}

// The probe's guesses, corrected by the factor the encodings measured.
class Guesses {
 public:
  explicit Guesses(QualityProbe& probe) : probe_(probe) {}

  bool Available(int quality) { return probe_.Estimate(quality).has_value(); }

  // The measured size of a copy against its guess.
  void Measured(int quality, uint64_t bytes) {
    if (const auto guess = probe_.Estimate(quality); guess && *guess > 0)
      factor_ = static_cast<double>(bytes) / static_cast<double>(*guess);
  }

  // The highest quality in low..high whose corrected guess fits (its log at
  // most `logLimit`), low - 1 when none does, taking the guesses to grow
  // with quality. Each guess costs a sample's encoding, so the top is asked
  // first (it often fits), then the point where the line through the guesses
  // at the bracket's ends crosses the limit, falling back to halving when
  // that gains little.
  int HighestFitting(int low, int high, double logLimit) {
    std::optional<double> atHigh = LogGuess(high);
    if (!atHigh || *atHigh <= logLimit)
      return atHigh ? high : low - 1;
    int fits = low - 1;
    std::optional<double> atFits;
    int over = high;
    bool halve = false;
    while (over - fits > 1) {
      int next = fits + (over - fits) / 2;
      if (!halve && atFits) {
        const double t = (logLimit - *atFits) / (*atHigh - *atFits);
        const double x = LogScale(fits) + t * (LogScale(over) - LogScale(fits));
        next = std::clamp(static_cast<int>(std::lround(QualityAt(x))), fits + 1, over - 1);
      }
      const int before = over - fits;
      const std::optional<double> guess = LogGuess(next);
      if (guess && *guess <= logLimit) {
        fits = next;
        atFits = guess;
      } else {
        over = next;
        if (guess)
          atHigh = guess;
      }
      // A step that did not halve the bracket is followed by one that does.
      halve = !halve && (over - fits) * 2 > before;
    }
    return fits;
  }

 private:
  // The log of the corrected guess at `quality`.
  std::optional<double> LogGuess(int quality) {
    const std::optional<uint64_t> guess = probe_.Estimate(quality);
    if (!guess)
      return std::nullopt;
    return std::log(static_cast<double>(std::max<uint64_t>(*guess, 1)) * factor_);
  }

  QualityProbe& probe_;
  double factor_ = 1;
};

int NextQuality(const Bracket& b, double logLimit, int ceiling, Guesses* guesses) {
  const auto [low, high] = b.Window();
  double guess = LineEstimate(b, logLimit, ceiling);
  if (guesses != nullptr) {
    // Halfway between the answer the guesses give and the quality above.
    guess = guesses->HighestFitting(b.fits.quality + 1, b.over.quality - 1, logLimit) + 0.5;
  } else if (b.fits.quality == 0 && b.overBefore.quality > ceiling) {
    // Only the ceiling's size is known, which says little about the slope:
    // go halfway from the middle of the window toward the typical line.
    const double middle = (low + high) / 2.0;
    guess = middle + (guess - middle) / 2.0;
  }
  guess =
      std::clamp(guess, static_cast<double>(b.fits.quality), static_cast<double>(b.over.quality));
  // Closing the bracket takes the expected answer measured as fitting and
  // the quality above it as not, in one order or the other. Ask first for
  // one after which the budget still allows the other.
  const int answer = std::min(static_cast<int>(std::floor(guess)), b.over.quality - 1);
  const bool fitsFirst =
      answer > b.fits.quality && b.Allows(answer) &&
      (answer + 1 == b.over.quality || b.After({answer, 0}, true).Allows(answer + 1));
  const bool overFirst =
      answer + 1 < b.over.quality && b.Allows(answer + 1) &&
      (answer == b.fits.quality || b.After({answer + 1, 0}, false).Allows(answer));
  int next = static_cast<int>(std::lround(guess));
  if (fitsFirst != overFirst) {
    next = fitsFirst ? answer : answer + 1;
  }
  return std::clamp(next, low, high);
}

}  // namespace

QualitySearch FindQualityWithin(uint64_t limitBytes, int ceiling, QualityProbe& probe) {
  ceiling = std::clamp(ceiling, 1, 100);
  // A limit of 0 counts as 1: both fit nothing.
  const double logLimit = LogBytes(limitBytes);
  QualitySearch result;
  Bracket bracket;
  bracket.over.quality = ceiling + 1;
  uint64_t fitsBytes = 0;
  uint64_t lastBytes = 0;
  Guesses guesses(probe);
  const bool guessing = guesses.Available(ceiling);
  // With guesses, the first encoding is the answer they give, or quality 1
  // when they say nothing fits; else the ceiling.
  int quality = guessing ? std::max(1, guesses.HighestFitting(1, ceiling, logLimit)) : ceiling;
  for (;;) {
    const std::optional<uint64_t> bytes = probe.EncodeAt(quality, bracket.MostAfter(quality));
    ++result.encodes;
    if (!bytes) {
      return result;
    }
    lastBytes = *bytes;
    if (guessing)
      guesses.Measured(quality, *bytes);
    const bool fits = *bytes <= limitBytes;
    if (fits) {
      probe.KeepLast();
      fitsBytes = *bytes;
    }
    const Measured measured{quality, LogBytes(*bytes)};
    bracket = bracket.After(measured, fits);
    if (bracket.Closed()) {
      break;
    }
    quality = NextQuality(bracket, logLimit, ceiling, guessing ? &guesses : nullptr);
  }
  if (bracket.fits.quality == 0) {
    // Quality 1 was the last encode: the copy closest to the limit.
    probe.KeepLast();
    result.outcome = QualitySearch::kNoneFits;
    result.quality = 1;
    result.bytes = lastBytes;
    return result;
  }
  result.outcome = QualitySearch::kFound;
  result.quality = bracket.fits.quality;
  result.bytes = fitsBytes;
  return result;
}
