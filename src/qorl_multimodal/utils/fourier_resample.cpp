#include "qorl_multimodal/utils/fourier_resample.hpp"

#include <fftw3.h>

#include <algorithm>
#include <complex>
#include <mutex>
#include <stdexcept>

namespace qorl_multimodal::utils::fourier_resample {

namespace {

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex& planner_mutex() {
  static std::mutex mutex;
  return mutex;
}

// One thread per transform: FFTW's threads (fftw_plan_with_nthreads) belong here once callers
// can hand blocking work to worker threads of their choosing.
class Plan {
 public:
  template <typename Make>
  explicit Plan(Make&& make) {
    std::lock_guard lock(planner_mutex());
    plan_ = make();
    if (!plan_) throw std::runtime_error("FFTW could not plan the transform");
  }
  ~Plan() {
    std::lock_guard lock(planner_mutex());
    fftw_destroy_plan(plan_);
  }
  Plan(const Plan&) = delete;
  Plan& operator=(const Plan&) = delete;
  void execute() const { fftw_execute(plan_); }

 private:
  fftw_plan plan_ = nullptr;
};

// Planned with FFTW_ESTIMATE: measuring (FFTW_MEASURE) costs seconds per new length, far more
// than it saves on one transform, and wisdom does not carry over to other lengths.

// Values needed to hold the half spectrum of `n` real samples in place.
std::size_t spectrum_values(std::size_t n) { return 2 * (n / 2 + 1); }

// Replaces the first n values of `buffer` by their half spectrum, in place.
void forward(std::vector<double>& buffer, std::size_t n) {
  buffer.resize(spectrum_values(n));
  auto* spectrum = reinterpret_cast<fftw_complex*>(buffer.data());
  const Plan plan([&] {
    fftw_iodim64 dim{static_cast<std::ptrdiff_t>(n), 1, 1};
    return fftw_plan_guru64_dft_r2c(1, &dim, 0, nullptr, buffer.data(), spectrum, FFTW_ESTIMATE);
  });
  plan.execute();
}

// `bins` holds at least the bins 0..min(n, num)/2 of the spectrum of n samples; turns it into
// those n samples resampled to `num`, in place.
void inverse(std::vector<double>& bins, std::size_t n, std::size_t num) {
  const std::size_t shorter = std::min(n, num);
  // Only the kept bins stay; a longer output gets zeros above them.
  bins.resize(spectrum_values(shorter));
  bins.resize(spectrum_values(num));
  auto* spectrum = reinterpret_cast<std::complex<double>*>(bins.data());
  if (shorter % 2 == 0 && num != n) spectrum[shorter / 2] *= num < n ? 2.0 : 0.5;
  // A real signal's DC and Nyquist bins are real.
  spectrum[0].imag(0.0);
  if (num % 2 == 0) spectrum[num / 2].imag(0.0);

  const Plan plan([&] {
    fftw_iodim64 dim{static_cast<std::ptrdiff_t>(num), 1, 1};
    return fftw_plan_guru64_dft_c2r(1, &dim, 0, nullptr,
                                    reinterpret_cast<fftw_complex*>(bins.data()), bins.data(),
                                    FFTW_ESTIMATE);
  });
  plan.execute();
  bins.resize(num);
  // FFTW's inverse is unnormalised: divide by the input length (1/num for the inverse, times
  // num/n for the new length).
  const double scale = 1.0 / static_cast<double>(n);
  for (double& s : bins) s *= scale;
}

}  // namespace

void resample(std::vector<double>& samples, std::size_t num) {
  const std::size_t lengths[] = {num};
  resample_each(std::move(samples), lengths, [&](std::vector<double>& result) {
    samples = std::move(result);
    return false;
  });
}

void resample_each(std::vector<double> samples, std::span<const std::size_t> lengths,
                   const ResultHandler& handle) {
  const std::size_t n = samples.size();
  std::size_t step = 0;
  // Lengths equal to the signal's own are the signal itself, as long as it is untransformed.
  for (; step < lengths.size() && lengths[step] == n && n > 0; ++step) {
    if (!handle(samples)) return;
  }
  if (step == lengths.size()) return;
  if (n == 0) {
    for (; step < lengths.size(); ++step) {
      samples.assign(lengths[step], 0.0);
      if (!handle(samples)) return;
    }
    return;
  }

  // `current` holds every bin the remaining steps need; before a step's inverse transform
  // destroys it, the bins of the steps after it move to `next`.
  std::vector<double> current = std::move(samples);
  std::vector<double> next;
  forward(current, n);
  for (; step < lengths.size(); ++step) {
    std::size_t later_bins = 0;
    for (std::size_t j = step + 1; j < lengths.size(); ++j) {
      later_bins = std::max(later_bins, std::min(n, lengths[j]) / 2 + 1);
    }
    next.assign(current.begin(), current.begin() + static_cast<std::ptrdiff_t>(2 * later_bins));
    if (lengths[step] == 0) {
      current.clear();
    } else {
      inverse(current, n, lengths[step]);
    }
    if (!handle(current)) return;
    std::swap(current, next);
  }
}

}  // namespace qorl_multimodal::utils::fourier_resample
