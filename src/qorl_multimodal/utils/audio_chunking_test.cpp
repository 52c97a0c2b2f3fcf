#include "qorl_multimodal/utils/audio_chunking.hpp"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <memory>
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

TEST(SplitAudioTest, OtherRatesAreMixedAndResampledOnOneTimeLine) {
  // 100 s of stereo noise at 44.1 kHz, read a block at a time into pieces at 16 kHz.
  std::mt19937 random(3);
  std::uniform_real_distribution<double> level(-0.5, 0.5);
  const std::size_t frames = 100 * 44100 + 17;
  sound_file::FlacWriter writer(44100, 2, sound_file::Subtype::PCM_16);
  std::vector<double> block(2 * 44100);
  for (std::size_t done = 0; done < frames; done += 44100) {
    for (double& s : block) s = level(random);
    writer.write(block.data(),
                 static_cast<std::int64_t>(std::min<std::size_t>(44100, frames - done)));
  }
  const std::string flac = writer.finish();
  const auto pieces = split_audio(flac, {.max_bytes = 1000000, .search_window = 10});
  ASSERT_GE(pieces.size(), 4u);
  std::size_t samples = 0;
  for (const Piece& piece : pieces) {
    EXPECT_DOUBLE_EQ(piece.offset, samples / 16000.0);
    const auto decoded = qorl_testing::decode_audio(piece.flac.str());
    EXPECT_EQ(decoded.sample_rate, 16000);
    EXPECT_EQ(decoded.channels, 1);
    EXPECT_LE(piece.flac.size(), 1000000u);
    samples += static_cast<std::size_t>(decoded.frames);
  }
  // As many samples as resampling the whole recording at once gives.
  EXPECT_EQ(samples, frames * 16000 / 44100);
}

// `count` pieces of 100 s, made one at a time.
NextPiece pieces_of(int count) {
  auto made = std::make_shared<int>(0);
  return [made, count]() -> awaitable<std::optional<Piece>> {
    if (*made == count) co_return std::nullopt;
    const double offset = 100.0 * (*made)++;
    co_return Piece{qorl_core::Bytes(""), offset, 100.0};
  };
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

TEST(TranscribePiecesTest, MakesPiecesOnlyAsRequestsFreeUpAndReportsAFailureToMakeOne) {
  // Pieces are made while earlier ones are sent, but never more than one ahead of the requests.
  int made = 0, finished = 0, most_held = 0;
  auto make = pieces_of(12);
  const auto counted = [&]() -> awaitable<std::optional<Piece>> {
    std::optional<Piece> piece = co_await make();
    if (piece) most_held = std::max(most_held, ++made - finished);
    co_return piece;
  };
  const auto slow = [&](const Piece&,
                        std::optional<std::string>) -> awaitable<std::vector<AudioTranscript>> {
    boost::asio::steady_timer timer(co_await boost::asio::this_coro::executor);
    timer.expires_after(std::chrono::milliseconds(2));
    co_await timer.async_wait(boost::asio::use_awaitable);
    ++finished;
    co_return std::vector<AudioTranscript>{};
  };
  qorl_core::run_sync(transcribe_pieces(counted, 3, std::nullopt, slow));
  EXPECT_EQ(finished, 12);
  EXPECT_LE(most_held, 4);

  int sent = 0;
  const auto failing = [&, calls = 0]() mutable -> awaitable<std::optional<Piece>> {
    if (++calls == 3) throw std::runtime_error("damaged block");
    co_return Piece{qorl_core::Bytes(""), 0.0, 1.0};
  };
  try {
    qorl_core::run_sync(transcribe_pieces(
        failing, 2, std::nullopt,
        [&](const Piece&, std::optional<std::string>) -> awaitable<std::vector<AudioTranscript>> {
          ++sent;
          co_return std::vector<AudioTranscript>{};
        }));
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "damaged block");
  }
  EXPECT_LE(sent, 2);
}

}  // namespace
}  // namespace qorl_multimodal::utils::audio_chunking
