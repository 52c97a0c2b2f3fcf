// The fake services on loopback as one program, for test suites outside C++ (the Python
// bindings' pytest suite): prints one JSON line saying where each service listens and which
// keys it accepts, then serves until its standard input closes.
//
// Gemini is started once per kind of answer a converter expects (captions, Mermaid code, a
// video description, audio transcripts), once as a model whose answer carries both captions and
// audio transcripts (so one GOOGLE_GEMINI_BASE_URL serves the captioner and the Gemini
// transcriber together, as in the README's quick start), and twice more as a model that answers
// captions after 200 ms and one that answers only after 10 minutes.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "testing/delay_server.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/fake_openai.hpp"
#include "testing/fake_prosa.hpp"
#include "testing/fake_speech.hpp"
#include "testing/fake_storage.hpp"
#include "testing/fake_youtube.hpp"
#include "testing/google_fakes.hpp"
#include "testing/temp_dir.hpp"

namespace {

using qorl_testing::FakeGeminiServer;

constexpr const char* kCaptions =
    R"({"captions": ["Sebuah bagan alir.", "Diagram dengan tiga langkah."]})";
constexpr const char* kMermaid = "graph TD\n  A --> B";
constexpr const char* kVideo = R"({"video_summary": "Layar berganti warna.",
    "segments": [{"start_time": 0, "end_time": 1.5, "segment_caption": ["Biru", "Merah"],
                  "transcripts": [], "keyframes": []}]})";
constexpr const char* kAudioTranscripts =
    R"({"audio_transcripts": [{"text": "Halo dari Gemini.", "start_time": 0, "end_time": 1.5, "lang_id": "id"}]})";
// Each converter reads only its own key of a JSON answer.
constexpr const char* kCaptionsAndTranscripts =
    R"({"captions": ["Sebuah bagan alir.", "Diagram dengan tiga langkah."],
    "audio_transcripts": [{"text": "Halo dari Gemini.", "start_time": 0, "end_time": 1.5, "lang_id": "id"}]})";
constexpr const char* kVideoId = "vid00000001";
constexpr const char* kBucket = "my-bucket";

void answer(FakeGeminiServer& gemini, const char* text) { gemini.set_answer_text(text); }

std::string write_file(const std::filesystem::path& path, const std::string& content,
                       bool executable = false) {
  std::ofstream(path) << content;
  if (executable) {
    std::filesystem::permissions(path, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
  }
  return path.string();
}

// A JPEG of noise, about 1 MB (noise does not compress), as the captioning benchmarks send.
std::string write_noisy_jpeg(const std::filesystem::path& path) {
  cv::Mat pixels(912, 912, CV_8UC3);
  cv::randu(pixels, cv::Scalar::all(0), cv::Scalar::all(255));
  cv::imwrite(path.string(), pixels, {cv::IMWRITE_JPEG_QUALITY, 90});
  return path.string();
}

}  // namespace

int main() {
  qorl_testing::TempDir dir;
  FakeGeminiServer caption_model, mermaid_model, video_model, audio_model, any_model;
  FakeGeminiServer throttled_model, exhausted_model;
  for (int refusals = 0; refusals < 8; ++refusals) {
    throttled_model.queue_reply({429, FakeGeminiServer::rate_limited_body("0.1s")});
  }
  exhausted_model.set_daily_quota(0);
  answer(caption_model, kCaptions);
  answer(any_model, kCaptionsAndTranscripts);
  answer(mermaid_model, kMermaid);
  answer(video_model, kVideo);
  answer(audio_model, kAudioTranscripts);
  const std::string captions_answer = FakeGeminiServer::answer_body(kCaptions);
  qorl_testing::DelayServer slow_model(std::chrono::milliseconds(200), captions_answer);
  qorl_testing::DelayServer stalled_model(std::chrono::minutes(10), captions_answer);

  qorl_testing::FakeOpenAI openai;
  openai.set_transcript("english", {{"Hello from Whisper.", 0.0, 1.5}}, {});
  qorl_testing::FakeProsa prosa;
  prosa.set_result_data(
      R"([{"channel": 0, "transcript": "halo dari prosa", "time_start": 0, "time_end": 1}])");

  qorl_testing::FakeGoogle google;
  qorl_testing::FakeStorage storage(google);
  storage.add_bucket(kBucket);
  qorl_testing::FakeSpeech speech(google, storage);
  speech.finish_with({{"Halo dari Google.", "1.500s", "id-id"}});

  qorl_testing::FakeYouTube youtube;
  youtube.add_video(
      kVideoId,
      {qorl_testing::FakeYouTube::Playability::kOk,
       true,
       {{"id", "Indonesian", false,
         R"(<transcript><text start="0.5" dur="2">Halo dari YouTube</text></transcript>)"}}});

  const nlohmann::json services = {
      {"gemini_key", caption_model.api_key()},
      {"gemini_caption", caption_model.base_url()},
      {"gemini_mermaid", mermaid_model.base_url()},
      {"gemini_video", video_model.base_url()},
      {"gemini_audio", audio_model.base_url()},
      {"gemini", any_model.base_url()},
      {"slow_model", slow_model.url()},
      {"throttled_model", throttled_model.base_url()},
      {"exhausted_model", exhausted_model.base_url()},
      {"stalled_model", stalled_model.url()},
      {"openai", openai.base_url()},
      {"openai_key", qorl_testing::FakeOpenAI::kApiKey},
      {"prosa", prosa.url()},
      {"prosa_key", qorl_testing::FakeProsa::kApiKey},
      {"google_credentials", write_file(dir.path() / "key.json", google.account().key_json())},
      {"speech_endpoint", speech.endpoint()},
      {"storage_endpoint", storage.endpoint()},
      {"bucket", kBucket},
      {"youtube", youtube.base_url()},
      {"yt_dlp", write_file(dir.path() / "yt-dlp",
                            std::string("#!/bin/sh\necho '{\"id\": \"") + kVideoId +
                                "\", \"title\": \"A video\"}'\n",
                            true)},
      {"noisy_jpeg", write_noisy_jpeg(dir.path() / "noise.jpg")},
      {"youtube_video", std::string("https://www.youtube.com/watch?v=") + kVideoId},
  };
  std::cout << services.dump() << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}
