#include "testing/fake_openai.hpp"

#include "testing/audio.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace qorl_testing {

namespace {

void answer_error(httplib::Response& response, int status, const std::string& message,
                  const char* type, const char* code, const char* param = nullptr) {
  nlohmann::ordered_json body = {
      {"error",
       {{"message", message},
        {"type", type},
        {"param", param ? nlohmann::ordered_json(param) : nlohmann::ordered_json()},
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

FakeOpenAI::FakeOpenAI(Flavour flavour) : flavour_(flavour) {
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

void FakeOpenAI::queue_segments(std::vector<Segment> segments) {
  std::lock_guard lock(mutex_);
  queued_segments_.push_back(std::move(segments));
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
  if (flavour_ != Flavour::kWhisperCpp &&
      upload.authorization != std::string("Bearer ") + kApiKey) {
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
  if (flavour_ == Flavour::kJsonOnlyModel && format && format->data == "verbose_json") {
    answer_error(response, 400,
                 "response_format 'verbose_json' is not compatible with model '" + model->data +
                     "'. Use 'json' or 'text' instead.",
                 "invalid_request_error", "unsupported_value", "response_format");
    return;
  }
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
  if (!queued_segments_.empty()) {
    segments = std::move(queued_segments_.front());
    queued_segments_.pop_front();
  } else if (echo_durations_) {
    const DecodedAudio audio = decode_audio(file->data);
    const double seconds = static_cast<double>(audio.frames) / audio.sample_rate;
    segments = {{std::to_string(seconds) + " s", 0.0, seconds}};
  }
  std::string text;
  for (const Segment& s : segments) text += s.text;
  if (!format || format->data == "json") {
    nlohmann::ordered_json body = {{"text", text}};
    if (flavour_ == Flavour::kJsonOnlyModel) {
      body["usage"] = {{"type", "tokens"},
                       {"input_tokens", 14},
                       {"input_token_details", {{"text_tokens", 0}, {"audio_tokens", 14}}},
                       {"output_tokens", 45},
                       {"total_tokens", 59}};
    }
    response.set_content(body.dump(), "application/json");
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
  response.set_content(verbose_answer(segments, text, want_words, want_segments).dump(),
                       "application/json");
}

nlohmann::ordered_json FakeOpenAI::verbose_answer(const std::vector<Segment>& segments,
                                                  const std::string& text, bool want_words,
                                                  bool want_segments) const {
  using nlohmann::ordered_json;
  const double duration = segments.empty() ? 0.0 : segments.back().end;
  const auto word_list = [&](double from, double to) {
    ordered_json words = ordered_json::array();
    for (const Segment& w : words_) {
      if (w.start < from || w.start >= to) continue;
      ordered_json word = {{"word", w.text}, {"start", w.start}, {"end", w.end}};
      if (flavour_ == Flavour::kWhisperCpp) word.update({{"t_dtw", -1}, {"probability", 0.98}});
      words.push_back(std::move(word));
    }
    return words;
  };
  ordered_json body = {{"task", "transcribe"}};
  if (flavour_ == Flavour::kVllm) {
    body["language"] = language_ ? language_->substr(0, 2) : "";
    body["duration"] = std::to_string(duration);
  } else {
    body["language"] = language_ ? ordered_json(*language_) : ordered_json();
    body["duration"] = duration;
  }
  body["text"] = text;
  if (flavour_ == Flavour::kSpeaches) {
    body["words"] = want_words ? word_list(0, 1e9) : ordered_json();
  } else if (want_words && flavour_ != Flavour::kVllm && flavour_ != Flavour::kWhisperCpp) {
    body["words"] = word_list(0, 1e9);
  }
  // Compatible servers list segments whatever was asked.
  if (!want_segments && flavour_ == Flavour::kWhisper1) return body;
  auto& listed = body["segments"] = ordered_json::array();
  int id = 0;
  for (const Segment& s : segments) {
    ordered_json segment = {{"id", id++},
                            {"seek", 0},
                            {"start", s.start},
                            {"end", s.end},
                            {"text", s.text},
                            {"tokens", ordered_json::array({50364, 2425})},
                            {"temperature", 0.0},
                            {"avg_logprob", -0.25},
                            {"compression_ratio", 1.1},
                            {"no_speech_prob", 0.01}};
    if (flavour_ == Flavour::kWhisperCpp) segment["words"] = word_list(s.start, s.end);
    if (flavour_ == Flavour::kSpeaches) segment["words"] = ordered_json();
    listed.push_back(std::move(segment));
  }
  return body;
}

}  // namespace qorl_testing
