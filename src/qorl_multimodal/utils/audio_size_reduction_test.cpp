#include "qorl_multimodal/utils/audio_size_reduction.hpp"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <cmath>

#include "qorl_multimodal/utils/fourier_resample.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"
#include "testing/audio.hpp"

namespace qorl_multimodal::utils::audio_size_reduction {
namespace {

// Every step against the plain method (resample the previous step's samples again, then
// truncate to 16 bits): the same frames, the same samples up to the truncation's last bit.
TEST(AudioSizeReductionTest, EveryStepMatchesResamplingThePreviousStep) {
  const std::string wav =
      qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 2, 44100, 1.3);
  const int rates[] = {44100, 16000, 8000, 4000, 2000};
  std::vector<std::string> encodings;
  const auto accepted =
      first_accepted_flac(wav, rates, [&](std::size_t index, const std::string& flac) {
        EXPECT_EQ(index, encodings.size());
        encodings.push_back(flac);
        return index == 4;
      });
  ASSERT_TRUE(accepted);
  ASSERT_EQ(encodings.size(), 5u);
  EXPECT_EQ(*accepted, encodings.back());

  std::vector<double> plain = sound_file::decode_mono(wav).samples;
  int rate = 44100;
  for (std::size_t step = 0; step < encodings.size(); ++step) {
    fourier_resample::resample(plain,
                               static_cast<std::size_t>(double(plain.size()) * rates[step] / rate));
    rate = rates[step];
    const auto decoded = qorl_testing::decode_audio(encodings[step]);
    ASSERT_EQ(decoded.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    ASSERT_EQ(decoded.sample_rate, rate);
    ASSERT_EQ(decoded.channels, 1);
    ASSERT_EQ(decoded.samples.size(), plain.size()) << "step " << step;
    for (std::size_t i = 0; i < plain.size(); ++i) {
      const double want = std::clamp(std::trunc(plain[i] * 32767), -32768.0, 32767.0);
      ASSERT_NEAR(decoded.samples[i] * 32768, want, 1.0) << "step " << step << " @" << i;
    }
  }
}

TEST(AudioSizeReductionTest, WorkersChangeOnlyWhereTheWorkRuns) {
  const std::string wav =
      qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 2, 22050, 2.1);
  const int rates[] = {16000, 8000, 4000};
  const auto encodings = [&](const fourier_resample::Workers& workers) {
    std::vector<std::string> offered;
    first_accepted_flac(
        wav, rates,
        [&](std::size_t, const std::string& flac) {
          offered.push_back(flac);
          return false;
        },
        workers);
    return offered;
  };
  boost::asio::thread_pool workers(2);
  EXPECT_EQ(encodings(workers.get_executor()), encodings(std::nullopt));
  workers.join();
}

TEST(AudioSizeReductionTest, NoneWhenNoEncodingIsAccepted) {
  const std::string wav = qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 1, 8000, 0.5);
  const int rates[] = {4000, 2000};
  std::size_t offered = 0;
  EXPECT_FALSE(first_accepted_flac(wav, rates, [&](std::size_t, const std::string&) {
    ++offered;
    return false;
  }));
  EXPECT_EQ(offered, 2u);
}

}  // namespace
}  // namespace qorl_multimodal::utils::audio_size_reduction
