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

// Values needed to hold the half spectrum of `n` real samples in place.
std::size_t spectrum_values(std::size_t n) { return 2 * (n / 2 + 1); }

}  // namespace

void resample(std::vector<double>& samples, std::size_t num) {
  const std::size_t n = samples.size();
  if (num == n) return;
  if (n == 0 || num == 0) {
    samples.assign(num, 0.0);
    return;
  }
  // Forward transform in place: the half spectrum overwrites the samples.
  samples.resize(spectrum_values(n));
  auto* spectrum = reinterpret_cast<fftw_complex*>(samples.data());
  {
    const Plan forward([&] {
      fftw_iodim64 dim{static_cast<std::ptrdiff_t>(n), 1, 1};
      return fftw_plan_guru64_dft_r2c(1, &dim, 0, nullptr, samples.data(), spectrum,
                                      FFTW_ESTIMATE);
    });
    forward.execute();
  }

  // The bins kept are 0..min/2; a longer output gets zeros above them.
  const std::size_t shorter = std::min(n, num);
  std::vector<double> out_buffer;
  double* out = samples.data();
  if (num > n) {
    out_buffer.assign(spectrum_values(num), 0.0);
    std::copy_n(samples.data(), spectrum_values(n), out_buffer.data());
    std::vector<double>().swap(samples);  // release the input before the inverse transform
    out = out_buffer.data();
  }
  auto* bins = reinterpret_cast<std::complex<double>*>(out);
  if (shorter % 2 == 0) {
    bins[shorter / 2] *= num < n ? 2.0 : 0.5;
  }
  // A real signal's DC and Nyquist bins are real.
  bins[0].imag(0.0);
  if (num % 2 == 0) bins[num / 2].imag(0.0);

  {
    const Plan inverse([&] {
      fftw_iodim64 dim{static_cast<std::ptrdiff_t>(num), 1, 1};
      return fftw_plan_guru64_dft_c2r(1, &dim, 0, nullptr, reinterpret_cast<fftw_complex*>(out),
                                      out, FFTW_ESTIMATE);
    });
    inverse.execute();
  }
  if (num > n) samples = std::move(out_buffer);
  // The capacity stays: later, shorter resamplings reuse it.
  samples.resize(num);
  // FFTW's inverse is unnormalised: divide by the input length (1/num for the inverse, times
  // num/n for the new length).
  const double scale = 1.0 / static_cast<double>(n);
  for (double& s : samples) s *= scale;
}

}  // namespace qorl_multimodal::utils::fourier_resample
