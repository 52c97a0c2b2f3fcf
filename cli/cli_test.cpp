// Runs the built qorl-multimodal command as a child process against the fake services.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <condition_variable>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "clients/process/process.hpp"
#include "testing/audio.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/fake_openai.hpp"
#include "testing/fake_prosa.hpp"
#include "testing/http_server.hpp"
#include "testing/media.hpp"
#include "testing/temp_dir.hpp"

namespace {

using nlohmann::json;
using qorl_testing::FakeGeminiServer;
using qorl_testing::FakeOpenAI;
using Env = std::map<std::string, std::string>;

constexpr int kConversionFailed = 1;
constexpr int kUsageError = 2;

class CliTest : public ::testing::Test {
 protected:
  // The command in an environment holding only `env` (no keys of the machine leak in).
  clients::process::ProcessResult run(const std::vector<std::string>& args, const Env& env = {}) const {
    std::vector<std::string> argv = {"/usr/bin/env", "-i", "PATH=/usr/bin:/bin",
                                     "HOME=" + dir_.path().string(), "AWS_EC2_METADATA_DISABLED=true"};
    for (const auto& [name, value] : env) argv.push_back(name + "=" + value);
    argv.push_back(QORL_CLI_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    return clients::process::run_process(argv);
  }

  Env gemini_env() const {
    return {{"GOOGLE_GEMINI_BASE_URL", gemini_.base_url()}, {"GEMINI_API_KEY", gemini_.api_key()}};
  }

  std::string write(const std::string& name, const std::string& content) const {
    return dir_.write(name, content).string();
  }

  std::string gps_jpeg(const std::string& name) const {
    return write(name, qorl_testing::with_exif(qorl_testing::encode_image(".jpg"),
                                               qorl_testing::kSanFranciscoGps).str());
  }

  std::string wav(const std::string& name) const {
    return write(name, qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 1, 16000, 1.0));
  }

  static json json_line(const std::string& out) {
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    return json::parse(out);
  }

  qorl_testing::TempDir dir_;
  FakeGeminiServer gemini_;
};

TEST_F(CliTest, CaptionAndMermaidWriteTextOrRecord) {
  gemini_.set_answer_text(R"({"captions": ["Sebuah foto.", "Foto kedua."]})");
  const std::string photo = gps_jpeg("photo.jpg");

  auto text = run({"caption", photo, "--captions", "2", "--one-liner", "Golden Gate"}, gemini_env());
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_EQ(text.out, "Sebuah foto.\nFoto kedua.\n");
  EXPECT_EQ(text.err, "");
  const json sent = json::parse(gemini_.generate_requests().back().body);
  EXPECT_NE(sent.dump().find("Title: Golden Gate"), std::string::npos);
  EXPECT_NE(sent.dump().find("Create 2 captions"), std::string::npos);

  auto record = run({"caption", "--json", photo}, gemini_env());
  EXPECT_EQ(record.exit_code, 0) << record.err;
  const json line = json_line(record.out);
  EXPECT_EQ(line["source"], photo);
  EXPECT_EQ(line["result"]["result"], "Sebuah foto.\nFoto kedua.");
  EXPECT_EQ(line["result"]["tag"], "caption");
  EXPECT_EQ(line["result"]["metadata"]["number_of_captions"], 2);
  EXPECT_NEAR(line["result"]["metadata"]["image_metadata"]["latitude"].get<double>(), 37.775, 1e-6);

  gemini_.set_answer_text("graph TD\n  A --> B");
  auto mermaid = run({"mermaid", photo, "--diagram-type", "flowchart"}, gemini_env());
  EXPECT_EQ(mermaid.exit_code, 0) << mermaid.err;
  EXPECT_EQ(mermaid.out, "graph TD\n  A --> B\n");
  const json diagram = json_line(run({"mermaid", "--json", photo, "--diagram-type", "flowchart"}, gemini_env()).out);
  EXPECT_EQ(diagram["result"]["tag"], "mermaid");
  EXPECT_EQ(diagram["result"]["metadata"]["diagram_type"], "flowchart");
}

TEST_F(CliTest, TransformRoutesOrSkipsRouting) {
  const std::string photo = gps_jpeg("chart.jpg");
  gemini_.queue_reply({200, FakeGeminiServer::answer_body("diagram")});
  gemini_.set_answer_text("graph TD\n  A --> B");
  auto routed = run({"transform", photo, "--query", "what is shown?"}, gemini_env());
  EXPECT_EQ(routed.exit_code, 0) << routed.err;
  EXPECT_EQ(routed.out, "graph TD\n  A --> B\n");
  EXPECT_EQ(gemini_.generate_requests().size(), 2u);

  gemini_.set_answer_text(R"({"captions": ["Sebuah bagan."]})");
  const json line = json_line(run({"transform", "--skip-routing", "--json", photo}, gemini_env()).out);
  EXPECT_EQ(line["result"], "Sebuah bagan.");
  EXPECT_EQ(gemini_.generate_requests().size(), 3u);
}

TEST_F(CliTest, VideoWritesSummaryAndSegments) {
  const auto clip = dir_.path() / "clip.avi";
  qorl_testing::write_solid_colour_video(clip, 10, 10.0, qorl_testing::colour_for_frame);
  gemini_.set_answer_text(R"({"video_summary": "Layar berganti warna.",
      "segments": [{"start_time": 0, "end_time": 61.5, "segment_caption": ["Biru", "Merah"],
                    "transcripts": [], "keyframes": []}]})");
  auto text = run({"video", clip.string()}, gemini_env());
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_EQ(text.out, "Layar berganti warna.\n00:00:00.000 --> 00:01:01.500  Biru  Merah\n");

  const json line = json_line(run({"video", "--json", clip.string()}, gemini_env()).out);
  EXPECT_EQ(line["result"]["tag"], "caption");
  EXPECT_EQ(line["result"]["metadata"]["segments"][0]["end_time"], 61.5);

  // A failed model request leaves no summary: one line, a failed conversion.
  gemini_.queue_reply({400, FakeGeminiServer::error_body(400, "Bad request", "INVALID_ARGUMENT")});
  auto failed = run({"video", clip.string()}, gemini_env());
  EXPECT_EQ(failed.exit_code, kConversionFailed);
  EXPECT_EQ(failed.err, "qorl-multimodal: " + clip.string() +
                            ": no video caption was generated (QORL_LOG_LEVEL=DEBUG shows why)\n");
}

TEST_F(CliTest, TranscribeWritesTextJsonSrtAndVtt) {
  FakeOpenAI openai;
  openai.set_transcript("english", {{"Hello there.", 0.0, 1.5}, {"Bye.", 3661.25, 3723.0}}, {});
  const Env env = {{"OPENAI_BASE_URL", openai.base_url()}, {"OPENAI_API_KEY", FakeOpenAI::kApiKey}};
  const std::string audio = wav("speech.wav");
  const std::vector<std::string> whisper = {"transcribe", "--backend", "whisper", audio};
  auto with = [&](std::vector<std::string> extra) {
    auto args = whisper;
    args.insert(args.end(), extra.begin(), extra.end());
    auto result = run(args, env);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
  };

  EXPECT_EQ(with({}), "Hello there.\nBye.\n");
  EXPECT_EQ(with({"--format", "srt"}),
            "1\n00:00:00,000 --> 00:00:01,500\nHello there.\n\n"
            "2\n01:01:01,250 --> 01:02:03,000\nBye.\n\n");
  EXPECT_EQ(with({"--format", "vtt"}),
            "WEBVTT\n\n00:00:00.000 --> 00:00:01.500\nHello there.\n\n"
            "01:01:01.250 --> 01:02:03.000\nBye.\n\n");
  const json line = json_line(with({"--json"}));
  EXPECT_EQ(line["result"], json::parse(R"([
      {"text": "Hello there.", "start_time": 0.0, "end_time": 1.5, "lang_id": "en"},
      {"text": "Bye.", "start_time": 3661.25, "end_time": 3723.0, "lang_id": "en"}])"));
}

TEST_F(CliTest, TranscribeReachesProsaAndGeminiBackends) {
  qorl_testing::FakeProsa prosa;
  prosa.set_result_data(R"([{"channel": 0, "transcript": "halo semua", "time_start": 0, "time_end": 1}])");
  auto by_prosa = run({"transcribe", "-b", "prosa", "--url", prosa.url(), "--polling-interval", "0",
                       wav("a.wav")},
                      {{"PROSA_API_KEY", qorl_testing::FakeProsa::kApiKey}});
  EXPECT_EQ(by_prosa.exit_code, 0) << by_prosa.err;
  EXPECT_EQ(by_prosa.out, "halo semua\n");

  gemini_.set_answer_text(R"({"audio_transcripts": [
      {"text": "Speaker 1: Halo.", "start_time": 0, "end_time": 1.5, "lang_id": "id"}]})");
  auto by_gemini = run({"transcribe", "-b", "gemini", "-f", "srt", wav("b.wav")}, gemini_env());
  EXPECT_EQ(by_gemini.exit_code, 0) << by_gemini.err;
  EXPECT_EQ(by_gemini.out, "1\n00:00:00,000 --> 00:00:01,500\nSpeaker 1: Halo.\n\n");
}

TEST_F(CliTest, FrameWritesTheFrameAtTheOffset) {
  const auto video = dir_.path() / "clip.avi";
  qorl_testing::write_solid_colour_video(video, 20, 10.0, qorl_testing::colour_for_frame);
  const std::string image = (dir_.path() / "frame.png").string();

  auto text = run({"frame", video.string(), "--at", "1.2", "-o", image});
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_EQ(text.out, image + "\n");
  const cv::Mat frame = cv::imread(image);
  ASSERT_FALSE(frame.empty());
  const auto pixel = frame.at<cv::Vec3b>(24, 32);
  EXPECT_EQ(qorl_testing::frame_for_colour({pixel[0], pixel[1], pixel[2]}), 12);

  auto record = run({"frame", video.string(), "--at", "0", "-o", image, "--json"});
  const json line = json_line(record.out);
  EXPECT_EQ(line["result"]["output"], image);
  EXPECT_EQ(line["result"]["format"], "PNG");
  EXPECT_GT(line["result"]["size"].get<int>(), 0);
}

TEST_F(CliTest, MetadataWritesTheGpsPosition) {
  const std::string photo = gps_jpeg("gps.jpg");
  const std::string plain = write("plain.png", qorl_testing::encode_image(".png").str());

  auto text = run({"metadata", photo});
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_EQ(text.out.rfind("latitude: 37.775\nlongitude: -122.419", 0), 0u) << text.out;
  EXPECT_EQ(run({"metadata", plain}).out, "no GPS position\n");

  const json line = json_line(run({"metadata", "--json", photo}).out);
  EXPECT_NEAR(line["result"]["longitude"].get<double>(), -122.4193, 1e-4);
}

// The slow source is answered only once the fast answer has been written: with two jobs the
// fast result comes first, and both requests are in flight together (one job would make the
// slow request time out).
TEST_F(CliTest, JobsRunConcurrentlyAndReportInCompletionOrder) {
  qorl_testing::HttpServer model;
  std::mutex mutex;
  std::condition_variable changed;
  bool slow_arrived = false, fast_answered = false;
  auto is_slow = [](const httplib::Request& request) {
    return request.body.find("slow.jpg") != std::string::npos;
  };
  model.server().Post(R"(/v1beta/models/.*)", [&](const httplib::Request& request, httplib::Response& response) {
    const bool slow = is_slow(request);
    std::unique_lock lock(mutex);
    if (slow) slow_arrived = true;
    changed.notify_all();
    const bool ready = changed.wait_for(lock, std::chrono::seconds(20),
                                        [&] { return slow ? fast_answered : slow_arrived; });
    response.status = ready ? 200 : 500;
    const std::string caption = slow ? "slow" : "fast";
    response.set_content(FakeGeminiServer::answer_body(R"({"captions": [")" + caption + R"("]})"),
                         "application/json");
  });
  // Called once a response has been written.
  model.server().set_logger([&](const httplib::Request& request, const httplib::Response&) {
    if (is_slow(request)) return;
    std::lock_guard lock(mutex);
    fast_answered = true;
    changed.notify_all();
  });
  model.start();
  const std::string slow = gps_jpeg("slow.jpg"), fast = gps_jpeg("fast.jpg");

  auto result = run({"caption", "--jobs", "2", slow, fast},
                    {{"GOOGLE_GEMINI_BASE_URL", model.url()}, {"GEMINI_API_KEY", "key"}});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "==> " + fast + " <==\nfast\n==> " + slow + " <==\nslow\n");
}

TEST_F(CliTest, BadInputGivesOneLineAndItsExitStatus) {
  const std::string photo = gps_jpeg("photo.jpg");
  const std::string audio = wav("a.wav");
  struct Case {
    std::vector<std::string> args;
    Env env;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"caption", "missing.jpg"}, gemini_env(), kConversionFailed,
       "qorl-multimodal: missing.jpg: No such file: missing.jpg\n"},
      {{"caption", " \t"}, gemini_env(), kUsageError, "qorl-multimodal: sources: a source is blank (see --help)\n"},
      {{"caption", photo}, {}, kUsageError,
       "qorl-multimodal: GEMINI_API_KEY or GOOGLE_API_KEY is not set (needed for captioning)\n"},
      {{"transcribe", "--backend", "whisper", audio}, {}, kUsageError,
       "qorl-multimodal: OPENAI_API_KEY is not set (needed for the whisper backend)\n"},
      {{"transcribe", "--backend", "prosa", audio}, {}, kUsageError,
       "qorl-multimodal: PROSA_API_KEY is not set (needed for the prosa backend)\n"},
      {{"transcribe", "--backend", "whisper", "--bucket", "b", audio}, {}, kUsageError,
       "qorl-multimodal: --bucket does not apply to --backend whisper\n"},
      {{"frame", "missing.avi", "--at", "1", "-o", "x.png"}, {}, kConversionFailed,
       "qorl-multimodal: missing.avi: No such file: missing.avi\n"},
  };
  for (const auto& c : cases) {
    auto result = run(c.args, c.env);
    EXPECT_EQ(result.exit_code, c.status) << c.args[1];
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
  }

  auto unknown = run({"transcribe", "--backend", "fax", audio});
  EXPECT_EQ(unknown.exit_code, kUsageError);
  EXPECT_EQ(unknown.err.rfind("qorl-multimodal: --backend: fax not in", 0), 0u) << unknown.err;
  EXPECT_EQ(std::count(unknown.err.begin(), unknown.err.end(), '\n'), 1);
}

TEST_F(CliTest, FailedConversionsNameTheSourceAndNoSecret) {
  FakeOpenAI openai;
  openai.fail_next(401, 10);
  auto whisper = run({"transcribe", "-b", "whisper", wav("a.wav")},
                     {{"OPENAI_BASE_URL", openai.base_url()}, {"OPENAI_API_KEY", FakeOpenAI::kApiKey}});
  EXPECT_EQ(whisper.exit_code, kConversionFailed);
  EXPECT_EQ(whisper.err.rfind("qorl-multimodal: " + dir_.path().string() + "/a.wav: ", 0), 0u) << whisper.err;
  EXPECT_EQ(std::count(whisper.err.begin(), whisper.err.end(), '\n'), 1) << whisper.err;
  EXPECT_EQ(whisper.err.find(FakeOpenAI::kApiKey), std::string::npos);

  // A signed URL's signature stays out of the error line.
  const std::string signed_url = "http://127.0.0.1:1/photo.jpg?X-Amz-Signature=abc123secret";
  auto download = run({"caption", signed_url}, gemini_env());
  EXPECT_EQ(download.exit_code, kConversionFailed);
  EXPECT_EQ(download.err.rfind("qorl-multimodal: http://127.0.0.1:1/photo.jpg?X-Amz-Signature=REDACTED: ", 0), 0u)
      << download.err;
  EXPECT_EQ(download.err.find("abc123secret"), std::string::npos);

  // A model that fails yields no captions: reported as a failure, the other source still done.
  gemini_.set_answer_text("not json");
  const std::string photo = gps_jpeg("photo.jpg");
  auto caption = run({"caption", photo, photo}, gemini_env());
  EXPECT_EQ(caption.exit_code, kConversionFailed);
  EXPECT_EQ(caption.err, "qorl-multimodal: " + photo +
                             ": no caption was generated (QORL_LOG_LEVEL=DEBUG shows why)\n"
                             "qorl-multimodal: " + photo +
                             ": no caption was generated (QORL_LOG_LEVEL=DEBUG shows why)\n");
}

}  // namespace
