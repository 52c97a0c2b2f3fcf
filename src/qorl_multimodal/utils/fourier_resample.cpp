#include "qorl_multimodal/utils/fourier_resample.hpp"

#include <fftw3.h>
#include <sys/mman.h>

#include <algorithm>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <utility>

#include <boost/asio/post.hpp>

namespace qorl_multimodal::utils::fourier_resample {

namespace {

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex& planner_mutex() {
  static std::mutex mutex;
  return mutex;
}

// A transform planned for one buffer and length. Planned with FFTW_ESTIMATE: measuring
// (FFTW_MEASURE) costs seconds per new length, far more than it saves on one transform, and
// wisdom does not carry over to other lengths.
class Plan {
 public:
  enum class Direction { kForward, kInverse };

  Plan() = default;
  // In place: `data` holds `length` real samples, or the half spectrum of that many.
  Plan(Direction direction, double* data, std::size_t length) : data_(data), length_(length) {
    std::lock_guard lock(planner_mutex());
    fftw_iodim64 dim{static_cast<std::ptrdiff_t>(length), 1, 1};
    auto* spectrum = reinterpret_cast<fftw_complex*>(data);
    plan_ = direction == Direction::kForward
                ? fftw_plan_guru64_dft_r2c(1, &dim, 0, nullptr, data, spectrum, FFTW_ESTIMATE)
                : fftw_plan_guru64_dft_c2r(1, &dim, 0, nullptr, spectrum, data, FFTW_ESTIMATE);
    if (!plan_) throw std::runtime_error("FFTW could not plan the transform");
  }
  ~Plan() {
    if (!plan_) return;
    std::lock_guard lock(planner_mutex());
    fftw_destroy_plan(plan_);
  }
  Plan(Plan&& other) noexcept
      : plan_(std::exchange(other.plan_, nullptr)), data_(other.data_), length_(other.length_) {}
  Plan& operator=(Plan&& other) noexcept {
    std::swap(plan_, other.plan_);
    std::swap(data_, other.data_);
    std::swap(length_, other.length_);
    return *this;
  }

  bool fits(const double* data, std::size_t length) const {
    return plan_ && data_ == data && length_ == length;
  }
  void execute() const { fftw_execute(plan_); }

 private:
  fftw_plan plan_ = nullptr;
  const double* data_ = nullptr;
  std::size_t length_ = 0;
};

// Values needed to hold the half spectrum of `n` real samples in place.
std::size_t spectrum_values(std::size_t n) { return 2 * (n / 2 + 1); }

// Asks for huge pages under a large buffer before it is first written: far fewer page faults
// and TLB misses over the hundreds of megabytes of an hour of audio. Only a hint.
void advise_huge_pages(const std::vector<double>& buffer) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
  auto end = begin + buffer.capacity() * sizeof(double);
  begin = (begin + kHugePage - 1) & ~(kHugePage - 1);
  end &= ~(kHugePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// The steps that transform: those after the leading lengths equal to the signal's own, which
// are the signal itself.
std::size_t first_transformed_step(std::size_t n, std::span<const std::size_t> lengths) {
  std::size_t step = 0;
  while (step < lengths.size() && lengths[step] == n && n > 0) ++step;
  return step;
}

// Values of the spectrum the steps after `step` still need.
std::size_t later_values(std::size_t n, std::span<const std::size_t> lengths, std::size_t step) {
  std::size_t bins = 0;
  for (std::size_t j = step + 1; j < lengths.size(); ++j) {
    bins = std::max(bins, std::min(n, lengths[j]) / 2 + 1);
  }
  return 2 * bins;
}

// Keeps in `bins` (which holds at least the bins 0..min(n, num)/2 of the spectrum of n samples)
// what resampling to `num` keeps, ready for the inverse transform in place.
void cut_spectrum(std::vector<double>& bins, std::size_t n, std::size_t num) {
  const std::size_t shorter = std::min(n, num);
  // Only the kept bins stay; a longer output gets zeros above them.
  bins.resize(spectrum_values(shorter));
  bins.resize(spectrum_values(num));
  auto* spectrum = reinterpret_cast<std::complex<double>*>(bins.data());
  if (shorter % 2 == 0 && num != n) spectrum[shorter / 2] *= num < n ? 2.0 : 0.5;
  // A real signal's DC and Nyquist bins are real.
  spectrum[0].imag(0.0);
  if (num % 2 == 0) spectrum[num / 2].imag(0.0);
}

}  // namespace

// The transforms of one resampling, each planned once: by a task on the workers ahead of its
// use, or by run() itself when it needs one no task has started. Shared with those tasks, which
// may outlive the resampler.
struct Resampler::Plans {
  struct Slot {
    enum class State { kPending, kPlanning, kDone } state = State::kDone;
    bool used = false;  // by a step that transforms
    Plan::Direction direction = Plan::Direction::kForward;
    double* data = nullptr;
    std::size_t length = 0;
    Plan plan;
  };

  std::mutex mutex;
  std::condition_variable planned;
  std::vector<Slot> slots;

  // Plans the first slot in use from `begin` on, unless someone has started it.
  void plan_next(std::size_t begin) {
    for (std::size_t i = begin; i < slots.size(); ++i) {
      if (!slots[i].used) continue;
      if (claim(i)) make(i);
      return;
    }
  }

  // The plan of slot `i` if it was meant for `length` values at `data` (made here unless
  // someone else has started it), else none.
  Plan take(std::size_t i, const double* data, std::size_t length) {
    {
      std::lock_guard lock(mutex);
      Slot& slot = slots[i];
      if (slot.data != data || slot.length != length) {
        if (slot.state == Slot::State::kPending) slot.state = Slot::State::kDone;
        return Plan();
      }
    }
    if (claim(i)) make(i);
    std::unique_lock lock(mutex);
    planned.wait(lock, [&] { return slots[i].state == Slot::State::kDone; });
    return std::move(slots[i].plan);
  }

  // Leaves the pending slots unplanned and waits for one being planned (the resampler goes).
  void abandon() {
    std::unique_lock lock(mutex);
    for (Slot& slot : slots) {
      if (slot.state == Slot::State::kPending) slot.state = Slot::State::kDone;
    }
    planned.wait(lock, [&] {
      return std::none_of(slots.begin(), slots.end(),
                          [](const Slot& slot) { return slot.state == Slot::State::kPlanning; });
    });
  }

 private:
  bool claim(std::size_t i) {
    std::lock_guard lock(mutex);
    if (slots[i].state != Slot::State::kPending) return false;
    slots[i].state = Slot::State::kPlanning;
    return true;
  }
  void make(std::size_t i) {
    Slot& slot = slots[i];  // only its claimer touches it until it is done
    try {
      slot.plan = Plan(slot.direction, slot.data, slot.length);
    } catch (...) {
      // Left empty: run() plans it again and reports the failure.
    }
    std::lock_guard lock(mutex);
    slot.state = Slot::State::kDone;
    planned.notify_all();
  }
};

Resampler::Resampler(std::size_t n, std::vector<std::size_t> lengths, Workers workers)
    : lengths_(std::move(lengths)),
      workers_(std::move(workers)),
      plans_(std::make_shared<Plans>()) {
  // Each step transforms in one buffer and copies the bins later steps need to the other.
  std::size_t needed[2] = {spectrum_values(n), 0};
  int current = 0;
  for (std::size_t step = first_transformed_step(n, lengths_); step < lengths_.size(); ++step) {
    needed[current] = std::max(needed[current], spectrum_values(lengths_[step]));
    needed[1 - current] = std::max(needed[1 - current], later_values(n, lengths_, step));
    current = 1 - current;
  }
  double* reserved[2];
  for (int i = 0; i < 2; ++i) {
    buffers_[i].reserve(needed[i]);
    advise_huge_pages(buffers_[i]);
    reserved[i] = buffers_[i].data();
  }
  // Slot 0 is the forward transform, slot 1 + step the inverse of each step.
  using Direction = Plan::Direction;
  plans_->slots.resize(1 + lengths_.size());
  const std::size_t first = first_transformed_step(n, lengths_);
  if (n == 0 || first == lengths_.size()) return;
  const auto expect = [&](std::size_t index, Direction direction, double* data,
                          std::size_t length) {
    Plans::Slot& slot = plans_->slots[index];
    slot.state = Plans::Slot::State::kPending;
    slot.used = true;
    slot.direction = direction;
    slot.data = data;
    slot.length = length;
  };
  expect(0, Direction::kForward, reserved[0], n);
  current = 0;
  for (std::size_t step = first; step < lengths_.size(); ++step) {
    if (lengths_[step] > 0)
      expect(1 + step, Direction::kInverse, reserved[current], lengths_[step]);
    current = 1 - current;
  }
}

Resampler::~Resampler() { plans_->abandon(); }

void Resampler::start_planning() { plan_ahead(0); }

void Resampler::plan_ahead(std::size_t begin) {
  if (!workers_) return;
  boost::asio::post(*workers_, [plans = plans_, begin] { plans->plan_next(begin); });
}

void Resampler::run(const ResultHandler& handle) {
  std::vector<double>* current = &buffers_[0];
  std::vector<double>* next = &buffers_[1];
  const std::size_t n = current->size();
  std::size_t step = 0;
  for (; step < first_transformed_step(n, lengths_); ++step) {
    if (!handle(*current)) return;
  }
  if (step == lengths_.size()) return;
  if (n == 0) {
    for (; step < lengths_.size(); ++step) {
      current->assign(lengths_[step], 0.0);
      if (!handle(*current)) return;
    }
    return;
  }

  // Planned ahead for this buffer and length, else now; dropped after its one use, with its
  // tables. One transform is planned ahead, while the one before runs: each plan holds tables
  // of hundreds of megabytes, and each result may be the last one needed.
  const auto transform = [&](std::size_t slot, Plan::Direction direction,
                             std::vector<double>& buffer, std::size_t length) {
    Plan plan = plans_->take(slot, buffer.data(), length);
    plan_ahead(slot + 1);
    if (!plan.fits(buffer.data(), length)) plan = Plan(direction, buffer.data(), length);
    plan.execute();
  };

  current->resize(spectrum_values(n));
  transform(0, Plan::Direction::kForward, *current, n);
  for (; step < lengths_.size(); ++step) {
    const std::size_t num = lengths_[step];
    next->assign(current->begin(),
                 current->begin() + static_cast<std::ptrdiff_t>(later_values(n, lengths_, step)));
    if (num == 0) {
      current->clear();
    } else {
      cut_spectrum(*current, n, num);
      transform(1 + step, Plan::Direction::kInverse, *current, num);
      current->resize(num);
      // FFTW's inverse is unnormalised: divide by the input length (1/num for the inverse,
      // times num/n for the new length).
      const double scale = 1.0 / static_cast<double>(n);
      for (double& s : *current) s *= scale;
    }
    if (!handle(*current)) return;
    std::swap(current, next);
  }
}

void resample(std::vector<double>& samples, std::size_t num) {
  const std::size_t lengths[] = {num};
  resample_each(std::move(samples), lengths, [&](std::vector<double>& result) {
    samples = std::move(result);
    return false;
  });
}

void resample_each(std::vector<double> samples, std::span<const std::size_t> lengths,
                   const ResultHandler& handle) {
  Resampler resampler(samples.size(), std::vector<std::size_t>(lengths.begin(), lengths.end()));
  resampler.signal() = std::move(samples);
  resampler.run(handle);
}

}  // namespace qorl_multimodal::utils::fourier_resample
