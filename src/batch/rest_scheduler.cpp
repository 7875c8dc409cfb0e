#include "batch/rest_scheduler.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// How often the program's thread keeps its windows answering while it waits.
constexpr auto kAnswerEvery = std::chrono::milliseconds(30);
// How long a worker with nothing to do keeps its warm blocks for the next
// photo: long enough for the program's thread to write a copy or two.
constexpr auto kKeepWarm = std::chrono::milliseconds(100);

}  // namespace

class RestScheduler::Gate final : public PhotoGate {
 public:
  Gate(RestScheduler& run, size_t worker) : run_(run), worker_(worker) {}
  bool Reserve(uint64_t bytes, const std::function<uint64_t()>& shed) override {
    return run_.Admit(worker_, bytes, shed, false);
  }
  bool WaitAlone(uint64_t bytes, const std::function<uint64_t()>& shed) override {
    return run_.Admit(worker_, bytes, shed, true);
  }
  void Hold(uint64_t bytes) override { run_.Hold(worker_, bytes); }
  bool Report(double done) noexcept override {
    run_.workers_[worker_]->share.store(std::clamp(done, 0.0, 1.0), std::memory_order_relaxed);
    // Read without the lock: a stop seen one report late costs a few rows.
    return !run_.stopping_.load(std::memory_order_relaxed);
  }

 private:
  RestScheduler& run_;
  const size_t worker_;
};

RestScheduler::RestScheduler(size_t count, RestLimits limits, std::vector<size_t> after,
                             Convert convert, Idle idle)
    : count_(count),
      limits_(limits),
      after_(std::move(after)),
      convert_(std::move(convert)),
      idle_(std::move(idle)),
      window_(2 * std::max<size_t>(1, std::min(limits.workers, count))),
      converted_(count, 0) {
  const size_t workers = std::max<size_t>(1, std::min(limits.workers, count));
  for (size_t w = 0; w < workers; ++w)
    workers_.push_back(std::make_unique<Worker>());
  for (size_t w = 0; w < workers; ++w)
    workers_[w]->thread = std::thread([this, w] { Run(w); });
}

RestScheduler::~RestScheduler() {
  Stop();
}

void RestScheduler::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (auto& worker : workers_) {
    if (worker->thread.joinable())
      worker->thread.join();
  }
}

bool RestScheduler::MayHandOut() const {
  if (next_ >= count_ || next_ >= done_ + window_ || AnyWaiter() || AnyAlone())
    return false;
  return after_.empty() || after_[next_] == kNone || after_[next_] < done_;
}

bool RestScheduler::AnyWaiter() const {
  return std::any_of(workers_.begin(), workers_.end(), [](const auto& w) { return w->waiting; });
}

bool RestScheduler::AnyAlone() const {
  return std::any_of(workers_.begin(), workers_.end(), [](const auto& w) { return w->alone; });
}

bool RestScheduler::AnyWaiterBefore(size_t worker) const {
  const size_t photo = workers_[worker]->photo;
  return std::any_of(workers_.begin(), workers_.end(),
                     [photo](const auto& w) { return w->waiting && w->photo < photo; });
}

bool RestScheduler::OthersIdle(size_t worker) const {
  for (size_t w = 0; w < workers_.size(); ++w) {
    if (w != worker && (workers_[w]->converting || workers_[w]->reserved > 0))
      return false;
  }
  return true;
}

uint64_t RestScheduler::HeldByOthers(size_t worker) const {
  uint64_t held = heldBytes_;
  for (size_t w = 0; w < workers_.size(); ++w) {
    if (w != worker)
      held += workers_[w]->reserved;
  }
  return held;
}

void RestScheduler::BeginConverting(size_t worker) {
  Worker& me = *workers_[worker];
  me.waiting = false;
  me.converting = true;
  for (size_t w = 0; w < workers_.size(); ++w) {
    if (w != worker && (workers_[w]->converting || workers_[w]->reserved > 0)) {
      me.hadCompany = true;
      workers_[w]->hadCompany = true;
    }
  }
}

void RestScheduler::Run(size_t worker) {
  Worker& me = *workers_[worker];
  for (;;) {
    size_t photo = kNone;
    {
      std::unique_lock lock(mutex_);
      auto since = std::chrono::steady_clock::now();
      while (!stopping_ && !MayHandOut()) {
        // Nothing to go on with: warm blocks stay a moment for the next
        // photo, and go at once when another photo waits for memory.
        const bool giveBack =
            AnyWaiter() || next_ >= count_ || std::chrono::steady_clock::now() - since >= kKeepWarm;
        if (me.reserved > 0 && giveBack) {
          lock.unlock();
          idle_(worker);
          lock.lock();
          me.reserved = 0;
          changed_.notify_all();
          continue;
        }
        if (next_ >= count_ && me.reserved == 0)
          return;
        changed_.wait_for(lock, kKeepWarm);
      }
      if (stopping_)
        break;
      photo = next_++;
      me.photo = photo;
      me.share = 0;
      me.hadCompany = false;
      BeginConverting(worker);
    }
    Gate gate(*this, worker);
    convert_(photo, worker, gate);
    {
      std::lock_guard lock(mutex_);
      me.converting = false;
      me.waiting = false;
      me.alone = false;
      me.photo = kNone;
      converted_[photo] = 1;
    }
    finished_.notify_all();
    changed_.notify_all();
  }
  if (me.reserved > 0)
    idle_(worker);
}

bool RestScheduler::Admit(size_t worker, uint64_t bytes, const std::function<uint64_t()>& shed,
                          bool alone) {
  std::unique_lock lock(mutex_);
  Worker& me = *workers_[worker];
  if (stopping_ || (alone && !me.hadCompany))
    return false;
  if (!alone && bytes <= me.reserved) {
    me.reserved = bytes;
    changed_.notify_all();
    return true;
  }
  me.converting = false;
  me.waiting = true;
  changed_.notify_all();
  bool shed_done = !shed;
  while (!stopping_) {
    // Earlier photos go first, and nothing starts beside a photo that runs
    // alone; one that fits goes, and so does one that nothing else holds
    // memory beside, however much it needs.
    const bool fits = HeldByOthers(worker) + bytes <= limits_.budget;
    if (!AnyWaiterBefore(worker) && !AnyAlone() && ((fits && !alone) || OthersIdle(worker))) {
      me.reserved = bytes;
      me.alone = alone;
      if (alone)
        me.hadCompany = false;
      BeginConverting(worker);
      changed_.notify_all();
      return true;
    }
    // While it waits it counts as holding nothing, so that the photos it
    // waits for can go; its input, still held, is small beside them.
    me.reserved = 0;
    changed_.notify_all();
    if (!shed_done) {
      shed_done = true;
      lock.unlock();
      bytes = shed();
      lock.lock();
      continue;
    }
    changed_.wait(lock);
  }
  me.waiting = false;
  return false;
}

void RestScheduler::Hold(size_t worker, uint64_t bytes) {
  std::lock_guard lock(mutex_);
  const size_t photo = workers_[worker]->photo;
  heldBytes_ -= held_[photo];
  held_[photo] = bytes;
  heldBytes_ += bytes;
}

bool RestScheduler::Await(size_t index, const std::function<bool(double)>& keepAnswering) {
  for (;;) {
    double done = 0;
    {
      std::lock_guard lock(mutex_);
      done = static_cast<double>(done_);
      for (size_t i = done_; i < next_; ++i)
        done += converted_[i] != 0 ? 1.0 : 0.0;
      for (const auto& w : workers_) {
        if (w->photo != kNone)
          done += w->share.load(std::memory_order_relaxed);
      }
    }
    if (!keepAnswering(done)) {
      Stop();
      return false;
    }
    std::unique_lock lock(mutex_);
    if (finished_.wait_for(lock, kAnswerEvery, [&] { return converted_[index] != 0; }))
      return true;
  }
}

void RestScheduler::Done(size_t index) {
  {
    std::lock_guard lock(mutex_);
    done_ = index + 1;
    if (const auto it = held_.find(index); it != held_.end()) {
      heldBytes_ -= it->second;
      held_.erase(it);
    }
  }
  changed_.notify_all();
}
