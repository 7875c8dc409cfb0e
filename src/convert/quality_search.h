// "At most N KB": the highest quality, up to a ceiling, whose copy takes at
// most a given number of bytes. The search measures sizes by encoding, so it
// asks for as few encodings as it can: it guesses from the sizes it has
// already measured, and never takes more than kMostEncodes.
#pragma once

#include <cstdint>
#include <optional>

// Encodes the photo at a quality and tells how many bytes the copy takes.
// The probe holds at most two encodings: the one it keeps (the best answer
// so far) and the one it makes. When the search ends with kFound or
// kNoneFits, the one kept is the answer's.
class QualityProbe {
 public:
  // Encodes at `quality` (1 to 100); the encoding's size in bytes, or none
  // when the encoding was stopped or failed, which ends the search.
  // `mostAfter` is how many more encodings the search may still ask for
  // after this one, so that one progress bar can cover the whole search: it
  // never grows from one call to the next.
  virtual std::optional<uint64_t> EncodeAt(int quality, int mostAfter) = 0;
  // The encoding just made becomes the one kept, in place of the one kept
  // before. Called right after each encoding that fits, and after quality 1's
  // when nothing fits, which is then the last encoding.
  virtual void KeepLast() = 0;
  // A quick guess at the size of a copy at `quality`, from a sample of the
  // photo, say; none when the probe makes no guesses. A guess may be off by a
  // factor that changes slowly with quality: the search measures the factor
  // with each encoding, chooses its encodings by the guesses, and takes only
  // measured sizes for answers.
  virtual std::optional<uint64_t> Estimate(int /*quality*/) { return std::nullopt; }

 protected:
  ~QualityProbe() = default;
};

struct QualitySearch {
  enum Outcome {
    kFound,     // `quality` fits, and quality + 1 does not or is above the ceiling
    kNoneFits,  // even quality 1 takes more: `quality` is 1
    kStopped,   // an encoding was stopped or failed
  };
  Outcome outcome = kStopped;
  int quality = 0;     // the answer, whose encoding the probe keeps; 0 when stopped
  uint64_t bytes = 0;  // its size; 0 when stopped
  int encodes = 0;     // how many encodings the search asked for
};

inline constexpr int kMostEncodes = 8;

// Searches qualities 1 to `ceiling` (clamped to 1..100, as the codec clamps
// quality) for the highest whose copy takes at most `limitBytes`; with a
// limit of 0 nothing fits. Without guesses the ceiling is encoded first, and
// when it fits that is the answer after one encoding; with guesses the first
// encoding is the quality they say fits, the ceiling when they say it does.
//
// Sizes grow with quality almost always, not strictly: a higher quality now
// and then makes a copy a little smaller. The answer is a quality measured to
// fit whose next quality up was measured not to (or is the ceiling); where
// the sizes fall back under the limit above such a bump, the search may not
// see that higher quality.
QualitySearch FindQualityWithin(uint64_t limitBytes, int ceiling, QualityProbe& probe);
