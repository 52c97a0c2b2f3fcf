#include "qorl_multimodal/utils/audio_chunking.hpp"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <random>
#include <stdexcept>

#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"
#include "testing/audio.hpp"

namespace qorl_multimodal::utils::audio_chunking {
namespace {

using boost::asio::awaitable;

// Noise at 16 kHz with 0.4 s of silence starting at each second in `silences`.
std::vector<double> noise_with_silences(double seconds, const std::vector<double>& silences) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> level(-0.5, 0.5);
  std::vector<double> samples(static_cast<std::size_t>(seconds * 16000));
  for (double& s : samples) s = level(random);
  for (const double start : silences) {
    for (std::size_t i = static_cast<std::size_t>(start * 16000);
         i < static_cast<std::size_t>((start + 0.4) * 16000); ++i) {
      samples[i] = 0.0;
    }
  }
  return samples;
}

std::string flac_of(const std::vector<double>& samples) {
  sound_file::FlacWriter writer(16000, 1, sound_file::Subtype::PCM_16);
  writer.write(samples.data(), static_cast<std::int64_t>(samples.size()));
  return writer.finish();
}

TEST(ChooseCutsTest, CutsInTheQuietestFrameBeforeEachLongestCut) {
  // Pieces of at most 10 s, searched 4 s back: silences at 7.5 s and 16 s, and a decoy at 2 s
  // outside every window.
  const auto samples = noise_with_silences(30, {2.0, 7.5, 16.0});
  const auto cuts = choose_cuts(samples, 10 * 16000, 4 * 16000, 320);
  ASSERT_EQ(cuts.size(), 3u);
  EXPECT_GE(cuts[0], 7.5 * 16000);
  EXPECT_LT(cuts[0], 7.9 * 16000);
  EXPECT_GE(cuts[1], 16.0 * 16000);
  EXPECT_LT(cuts[1], 16.4 * 16000);
  // No silence within 4 s before 26 s: still a cut, and no piece over the limit.
  EXPECT_LE(cuts[2] - cuts[1], 10u * 16000);
  EXPECT_LE(samples.size() - cuts[2], 10u * 16000);
  EXPECT_TRUE(choose_cuts(samples, samples.size(), 16000, 320).empty());
}

TEST(SplitAudioTest, PiecesFitTheLimitAreContinuousAndAt16kHz) {
  // 120 s of noise, pieces of at most about 30 s, a silence in each cut's search window.
  const auto mono = noise_with_silences(120, {25, 50, 75, 100});
  const std::string flac = flac_of(mono);
  const std::size_t limit = 1000000;
  const auto pieces = split_audio(flac, {.max_bytes = limit, .search_window = 10});
  ASSERT_EQ(pieces.size(), 5u);
  double expected_offset = 0.0;
  for (const Piece& piece : pieces) {
    EXPECT_LE(piece.flac.size(), limit);
    EXPECT_DOUBLE_EQ(piece.offset, expected_offset);
    const auto decoded = qorl_testing::decode_audio(piece.flac.str());
    EXPECT_EQ(decoded.sample_rate, 16000);
    EXPECT_EQ(decoded.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    EXPECT_DOUBLE_EQ(piece.duration, decoded.frames / 16000.0);
    expected_offset += piece.duration;
  }
  EXPECT_DOUBLE_EQ(expected_offset, 120.0);
  // Every cut but the last lies in one of the silences.
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const double cut = pieces[i].offset;
    bool in_silence = false;
    for (double s : {25.0, 50.0, 75.0, 100.0}) in_silence |= cut >= s && cut < s + 0.4;
    EXPECT_TRUE(in_silence) << "cut at " << cut;
  }
  // A recording that fits whole stays whole; a limit below a second of audio is refused.
  EXPECT_EQ(split_audio(flac, {.max_bytes = 100000000}).size(), 1u);
  EXPECT_THROW(split_audio(flac, {.max_bytes = 1000}), qorl_core::ValueError);
}

std::vector<Piece> pieces_of(int count) {
  std::vector<Piece> pieces;
  for (int i = 0; i < count; ++i) pieces.push_back({qorl_core::Bytes(""), 100.0 * i, 100.0});
  return pieces;
}

TEST(TranscribePiecesTest, ShiftsTimesKeepsOrderAndChainsPromptsWhenSequential) {
  std::vector<std::optional<std::string>> prompts;
  const auto records = qorl_core::run_sync(transcribe_pieces(
      pieces_of(3), 1, "user prompt",
      [&](const Piece& piece,
          std::optional<std::string> prompt) -> awaitable<std::vector<AudioTranscript>> {
        prompts.push_back(prompt);
        AudioTranscript first, last;
        first.text = "start of " + std::to_string(static_cast<int>(piece.offset));
        first.start_time = 0.0;
        first.end_time = 50.0;
        last.text = "end of " + std::to_string(static_cast<int>(piece.offset));
        last.start_time = 50.0;
        last.end_time = 100.0;
        co_return std::vector<AudioTranscript>{first, last};
      }));
  ASSERT_EQ(records.size(), 6u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_DOUBLE_EQ(records[i].start_time, 50.0 * i);
    EXPECT_DOUBLE_EQ(records[i].end_time, 50.0 * (i + 1));
  }
  EXPECT_EQ(prompts,
            (std::vector<std::optional<std::string>>{"user prompt", "end of 0", "end of 100"}));
}

TEST(TranscribePiecesTest, BoundsRequestsInFlightAndRethrowsTheFirstFailure) {
  int in_flight = 0, most = 0;
  const auto slow = [&](const Piece& piece,
                        std::optional<std::string>) -> awaitable<std::vector<AudioTranscript>> {
    most = std::max(most, ++in_flight);
    boost::asio::steady_timer timer(co_await boost::asio::this_coro::executor);
    timer.expires_after(std::chrono::milliseconds(5));
    co_await timer.async_wait(boost::asio::use_awaitable);
    --in_flight;
    if (piece.offset == 300.0) throw std::runtime_error("piece 3 refused");
    co_return std::vector<AudioTranscript>{};
  };
  EXPECT_TRUE(qorl_core::run_sync(transcribe_pieces(pieces_of(3), 2, std::nullopt, slow)).empty());
  EXPECT_EQ(most, 2);
  try {
    qorl_core::run_sync(transcribe_pieces(pieces_of(8), 3, std::nullopt, slow));
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "piece 3 refused");
  }
}

}  // namespace
}  // namespace qorl_multimodal::utils::audio_chunking
