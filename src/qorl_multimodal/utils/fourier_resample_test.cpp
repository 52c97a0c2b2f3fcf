#include "qorl_multimodal/utils/fourier_resample.hpp"

#include <gtest/gtest.h>

#include <boost/asio/thread_pool.hpp>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

namespace qorl_multimodal::utils::fourier_resample {
namespace {

// The same method by the textbook DFT, O(n^2): independent of FFTW's layouts.
std::vector<double> reference(const std::vector<double>& x, std::size_t num) {
  const std::size_t n = x.size();
  using C = std::complex<double>;
  std::vector<C> spectrum(n / 2 + 1);
  for (std::size_t k = 0; k < spectrum.size(); ++k) {
    for (std::size_t t = 0; t < n; ++t) {
      spectrum[k] += x[t] * std::polar(1.0, -2 * std::numbers::pi * double(k * t) / double(n));
    }
  }
  const std::size_t shorter = std::min(n, num);
  std::vector<C> y(num / 2 + 1);
  for (std::size_t k = 0; k <= shorter / 2; ++k) y[k] = spectrum[k];
  if (shorter % 2 == 0) y[shorter / 2] *= num < n ? 2.0 : 0.5;
  std::vector<double> out(num);
  for (std::size_t t = 0; t < num; ++t) {
    double sum = y[0].real();
    for (std::size_t k = 1; k < y.size(); ++k) {
      const bool nyquist = num % 2 == 0 && k == num / 2;
      const C term = y[k] * std::polar(1.0, 2 * std::numbers::pi * double(k * t) / double(num));
      sum += nyquist ? y[k].real() * std::cos(std::numbers::pi * double(t)) : 2 * term.real();
    }
    out[t] = sum / double(n);
  }
  return out;
}

TEST(FourierResampleTest, MatchesTheDftDefinitionForEvenAndOddLengthsBothWays) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<> dist(-1, 1);
  for (auto [n, num] : {std::pair<std::size_t, std::size_t>{64, 24},
                        {63, 24},
                        {64, 25},
                        {63, 25},
                        {24, 64},
                        {25, 63},
                        {25, 64},
                        {10, 10}}) {
    std::vector<double> x(n);
    for (double& v : x) v = dist(gen);
    const auto expected = reference(x, num);
    std::vector<double> y = x;
    resample(y, num);
    ASSERT_EQ(y.size(), num);
    for (std::size_t i = 0; i < num; ++i) {
      ASSERT_NEAR(y[i], n == num ? x[i] : expected[i], 1e-9) << n << "->" << num << " @" << i;
    }
  }
}

TEST(FourierResampleTest, KeepsToneBelowBothNyquistFrequencies) {
  const double rate = 44100, target = 16000, hz = 441;  // whole periods: no edge effects
  std::vector<double> x(44100);
  for (std::size_t i = 0; i < x.size(); ++i)
    x[i] = 0.5 * std::sin(2 * std::numbers::pi * hz * i / rate);
  x.reserve(x.size() + 2);
  const double* memory = x.data();
  resample(x, 16000);
  EXPECT_EQ(x.data(), memory);  // shortened in place
  for (std::size_t i = 0; i < x.size(); ++i) {
    ASSERT_NEAR(x[i], 0.5 * std::sin(2 * std::numbers::pi * hz * i / target), 1e-9);
  }
}

// Cutting each step from the one spectrum must give what resampling the previous step's result
// gives: the same lengths, the same samples within rounding. Input rates below, at and above
// the first step's, with odd and even lengths.
TEST(FourierResampleTest, EachLengthFromOneSpectrumEqualsResamplingTheResultBefore) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<> dist(-1, 1);
  for (const std::size_t n : {4410u, 4411u, 1600u, 801u}) {
    std::vector<double> x(n);
    for (double& v : x) v = dist(gen);
    const std::vector<std::size_t> lengths{1600, 800, 400, 200, 0};
    std::vector<std::vector<double>> expected;
    std::vector<double> chained = x;
    for (const std::size_t length : lengths) {
      resample(chained, length);
      expected.push_back(chained);
    }
    std::vector<std::vector<double>> got;
    resample_each(x, lengths, [&](std::vector<double>& result) {
      got.push_back(result);
      return true;
    });
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t step = 0; step < got.size(); ++step) {
      ASSERT_EQ(got[step].size(), expected[step].size()) << n << " step " << step;
      for (std::size_t i = 0; i < got[step].size(); ++i) {
        ASSERT_NEAR(got[step][i], expected[step][i], 1e-12) << n << " step " << step << " @" << i;
      }
    }
  }
}

TEST(FourierResampleTest, EachStopsWhenTheHandlerSaysSo) {
  const std::vector<std::size_t> lengths{50, 40, 30};
  std::vector<std::size_t> seen;
  resample_each(std::vector<double>(100, 0.25), lengths, [&](std::vector<double>& result) {
    seen.push_back(result.size());
    return seen.size() < 2;
  });
  EXPECT_EQ(seen, (std::vector<std::size_t>{50, 40}));
}

TEST(FourierResampleTest, EmptyInputGivesSilenceOfTheAskedLength) {
  std::vector<double> x;
  resample(x, 0);
  EXPECT_TRUE(x.empty());
  std::vector<double> y{0.5};
  resample(y, 3);
  EXPECT_EQ(y.size(), 3u);
}

// Plans made ahead on workers, for the buffers the signal is read into, are the plans
// resample_each makes: the same samples to the bit. A signal of another length than planned
// is planned again; a resampler may go while its planning is still queued or running.
TEST(FourierResampleTest, PlanningAheadOnWorkersGivesTheSameSamples) {
  boost::asio::thread_pool workers(2);
  std::mt19937 gen(11);
  std::uniform_real_distribution<> dist(-1, 1);
  const std::vector<std::size_t> lengths{4410, 1600, 801, 400};
  for (const std::size_t n : {4410u, 4411u}) {
    std::vector<double> x(n);
    for (double& v : x) v = dist(gen);
    std::vector<std::vector<double>> expected;
    resample_each(x, lengths, [&](std::vector<double>& result) {
      expected.push_back(result);
      return true;
    });
    for (const std::size_t planned_for : {n, n + 1}) {
      Resampler resampler(planned_for, lengths, workers.get_executor());
      resampler.start_planning();
      resampler.signal().assign(x.begin(), x.end());  // into the reserved buffer
      std::vector<std::vector<double>> got;
      resampler.run([&](std::vector<double>& result) {
        got.push_back(result);
        return true;
      });
      EXPECT_EQ(got, expected) << n << " planned for " << planned_for;
    }
  }
  for (int i = 0; i < 20; ++i) {
    Resampler unused(44100 + i, {16000, 8000}, workers.get_executor());
    unused.start_planning();
  }
  workers.join();
}

}  // namespace
}  // namespace qorl_multimodal::utils::fourier_resample
