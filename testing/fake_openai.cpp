#include "testing/fake_openai.hpp"

#include "testing/audio.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace qorl_testing {

namespace {

void answer_error(httplib::Response& response, int status, const std::string& message,
                  const char* type, const char* code) {
  nlohmann::ordered_json body = {
      {"error",
       {{"message", message},
        {"type", type},
        {"param", nullptr},
        {"code", code ? nlohmann::ordered_json(code) : nlohmann::ordered_json()}}}};
  response.status = status;
  response.set_content(body.dump(), "application/json");
}

}  // namespace

const FakeOpenAI::Part* FakeOpenAI::Upload::part(const std::string& name) const {
  const auto it =
      std::find_if(parts.begin(), parts.end(), [&](const Part& p) { return p.name == name; });
  return it == parts.end() ? nullptr : &*it;
}

FakeOpenAI::FakeOpenAI() {
  server_.server().Post(
      "/v1/audio/transcriptions",
      [this](const httplib::Request& request, httplib::Response& response,
             const httplib::ContentReader& reader) { handle(request, response, reader); });
  server_.start();
}

std::string FakeOpenAI::base_url() const { return server_.url("/v1"); }

void FakeOpenAI::set_transcript(std::optional<std::string> language, std::vector<Segment> segments,
                                std::vector<Segment> words) {
  std::lock_guard lock(mutex_);
  language_ = std::move(language);
  segments_ = std::move(segments);
  words_ = std::move(words);
}

void FakeOpenAI::fail_next(int status, int count) {
  std::lock_guard lock(mutex_);
  failing_status_ = status;
  failing_count_ = count;
}

std::vector<FakeOpenAI::Upload> FakeOpenAI::uploads() const {
  std::lock_guard lock(mutex_);
  return uploads_;
}

void FakeOpenAI::handle(const httplib::Request& request, httplib::Response& response,
                        const httplib::ContentReader& reader) {
  Upload upload;
  upload.authorization = request.get_header_value("Authorization");
  if (!request.is_multipart_form_data()) {
    answer_error(response, 400, "Invalid Content-Type header, expected multipart/form-data",
                 "invalid_request_error", nullptr);
    return;
  }
  // httplib's own streaming multipart parser, part by part in the order sent.
  reader(
      [&](const httplib::MultipartFormData& header) {
        upload.parts.push_back({header.name, "", header.filename, header.content_type});
        return true;
      },
      [&](const char* data, std::size_t length) {
        upload.parts.back().data.append(data, length);
        return true;
      });

  std::lock_guard lock(mutex_);
  uploads_.push_back(upload);
  if (failing_count_ > 0) {
    --failing_count_;
    answer_error(response, failing_status_,
                 "The server had an error while processing your request.", "server_error", nullptr);
    return;
  }
  if (upload.authorization != std::string("Bearer ") + kApiKey) {
    answer_error(response, 401,
                 "Incorrect API key provided. You can find your API key in your account settings.",
                 "invalid_request_error", "invalid_api_key");
    return;
  }
  const Part* file = upload.part("file");
  const Part* model = upload.part("model");
  if (!file || file->filename.empty() || !model) {
    answer_error(response, 400, file ? "you must provide a model parameter" : "No file provided",
                 "invalid_request_error", nullptr);
    return;
  }
  const Part* format = upload.part("response_format");
  std::vector<std::string> granularities;
  for (const Part& p : upload.parts) {
    if (p.name == "timestamp_granularities[]") granularities.push_back(p.data);
  }
  if (!granularities.empty() && (!format || format->data != "verbose_json")) {
    answer_error(response, 400, "timestamp_granularities requires response_format=verbose_json",
                 "invalid_request_error", nullptr);
    return;
  }
  // Each answer a single segment spanning the audio sent, when echoing durations.
  std::vector<Segment> segments = segments_;
  if (echo_durations_) {
    const DecodedAudio audio = decode_audio(file->data);
    const double seconds = static_cast<double>(audio.frames) / audio.sample_rate;
    segments = {{std::to_string(seconds) + " s", 0.0, seconds}};
  }
  std::string text;
  for (const Segment& s : segments) text += s.text;
  if (!format || format->data == "json") {
    response.set_content(nlohmann::ordered_json{{"text", text}}.dump(), "application/json");
    return;
  }
  if (format->data != "verbose_json") {
    response.set_content(text, "text/plain");
    return;
  }
  const bool want_words =
      std::find(granularities.begin(), granularities.end(), "word") != granularities.end();
  const bool want_segments =
      granularities.empty() ||
      std::find(granularities.begin(), granularities.end(), "segment") != granularities.end();
  nlohmann::ordered_json body = {{"task", "transcribe"},
                                 {"language", language_ ? nlohmann::json(*language_) : nullptr},
                                 {"duration", segments.empty() ? 0.0 : segments.back().end},
                                 {"text", text}};
  if (want_words) {
    auto& words = body["words"] = nlohmann::json::array();
    for (const Segment& w : words_)
      words.push_back({{"word", w.text}, {"start", w.start}, {"end", w.end}});
  }
  if (want_segments) {
    auto& listed = body["segments"] = nlohmann::json::array();
    int id = 0;
    for (const Segment& s : segments) {
      listed.push_back({{"id", id++},
                        {"seek", 0},
                        {"start", s.start},
                        {"end", s.end},
                        {"text", s.text},
                        {"tokens", nlohmann::json::array({50364, 2425})},
                        {"temperature", 0.0},
                        {"avg_logprob", -0.25},
                        {"compression_ratio", 1.1},
                        {"no_speech_prob", 0.01}});
    }
  }
  response.set_content(body.dump(), "application/json");
}

}  // namespace qorl_testing
