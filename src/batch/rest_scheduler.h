// The rest of a batch on worker threads. Photos are handed out in batch
// order, one per worker at a time; each starts converting only once the
// memory it needs fits the budget beside what the photos in flight hold, or
// once nothing else is converting; and the program's own thread takes their
// results in batch order, so that what it writes and shows never depends on
// which worker was quicker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "batch/platform.h"
#include "codec/codec.h"

// What a photo's conversion asks of the run, from its worker's thread. Its
// progress reports are the photo's.
class PhotoGate : public CodecProgress {
 public:
  // The worker will hold `bytes` in all for this photo, its warm blocks from
  // earlier photos included. Waits, unless that is less than it holds
  // already, until it fits the budget beside what the others hold and no
  // earlier photo waits, or until nothing else is converting and the others
  // hold nothing. Before waiting it calls `shed` (may be empty), which gives
  // back what the photo does not need and returns what it still needs.
  // False when the run stops first.
  virtual bool Reserve(uint64_t bytes, const std::function<uint64_t()>& shed) = 0;
  // The photo found memory short. When something else held memory since it
  // started, gives back what `shed` gives back, waits until it runs alone
  // (nothing else converting or holding memory, and nothing else starting
  // until it is done) with `bytes` reserved, and says true, to try again.
  // False when it ran alone already (the shortage is real) or the run stops.
  virtual bool WaitAlone(uint64_t bytes, const std::function<uint64_t()>& shed) = 0;
  // The photo's finished copy holds `bytes` until the program's thread is
  // done with it.
  virtual void Hold(uint64_t bytes) = 0;
  // The share of the photo's work done, 0 to 1; false once the run stops.
  bool Report(double done) noexcept override = 0;

 protected:
  ~PhotoGate() = default;
};

class RestScheduler {
 public:
  // Converts photo `index` on worker `worker` (from 0); a worker converts one
  // photo at a time. The result stays with the caller, for the program's
  // thread to take after Await.
  using Convert = std::function<void(size_t index, size_t worker, PhotoGate& gate)>;
  // Gives back a worker's warm blocks when it has no photo to go on with;
  // called on that worker's thread.
  using Idle = std::function<void(size_t worker)>;
  // No photo waits for another.
  static constexpr size_t kNone = SIZE_MAX;

  // `after[i]`: photo i reads the file that photo after[i] (an earlier one)
  // writes, so it starts only once the program's thread is done with that
  // one; kNone for a photo that waits for none.
  RestScheduler(size_t count, RestLimits limits, std::vector<size_t> after, Convert convert,
                Idle idle);
  // Stops the run.
  ~RestScheduler();
  RestScheduler(const RestScheduler&) = delete;
  RestScheduler& operator=(const RestScheduler&) = delete;

  // The program's thread: waits until photo `index` is converted. Calls
  // `keepAnswering` first and then at least every 30 ms with how many photos'
  // worth of work is done (whole photos and shares of those in flight); when
  // it says stop, the run is stopped and the result false.
  bool Await(size_t index, const std::function<bool(double)>& keepAnswering);
  // The program's thread is done with photo `index` (the next in order): its
  // copy is written or dropped, and photos that read it may start.
  void Done(size_t index);
  // Stops the run: photos in flight are abandoned, and every worker has
  // ended when this returns.
  void Stop();

 private:
  class Gate;
  struct Worker {
    std::thread thread;
    size_t photo = kNone;
    uint64_t reserved = 0;    // what it holds or may hold, warm blocks included
    bool converting = false;  // granted its memory, and working
    bool waiting = false;     // in Reserve or WaitAlone
    bool alone = false;       // converting alone: nothing else may start
    bool hadCompany = false;  // another held memory since its grant
    std::atomic<double> share{0};
  };

  void Run(size_t worker);
  bool MayHandOut() const;
  bool AnyWaiterBefore(size_t worker) const;
  bool AnyWaiter() const;
  bool OthersIdle(size_t worker) const;
  uint64_t HeldByOthers(size_t worker) const;
  bool AnyAlone() const;
  void BeginConverting(size_t worker);
  // Reserve and WaitAlone.
  bool Admit(size_t worker, uint64_t bytes, const std::function<uint64_t()>& shed, bool alone);
  void Hold(size_t worker, uint64_t bytes);

  const size_t count_;
  const RestLimits limits_;
  const std::vector<size_t> after_;
  const Convert convert_;
  const Idle idle_;
  const size_t window_;  // how far past the photo in hand workers may go

  std::mutex mutex_;
  std::condition_variable changed_;   // workers wait on it
  std::condition_variable finished_;  // the program's thread waits on it
  size_t next_ = 0;                   // the next photo to hand out
  size_t done_ = 0;                   // photos the program's thread is done with
  std::vector<uint8_t> converted_;    // per photo
  std::map<size_t, uint64_t> held_;   // finished copies, by photo
  uint64_t heldBytes_ = 0;
  // Set under the lock; read without it by workers' progress reports.
  std::atomic<bool> stopping_{false};
  std::vector<std::unique_ptr<Worker>> workers_;
};
