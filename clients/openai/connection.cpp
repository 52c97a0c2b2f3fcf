// The default connection: the REST stub behind the official clients' retry policy.
#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <random>
#include <thread>

#include "clients/openai/audio_transcriptions.hpp"
#include "clients/openai/rest_stub.hpp"

namespace clients::openai {

namespace {

using std::chrono::milliseconds;

bool should_retry(const http::Response& response) {
  if (const auto hint = response.header("x-should-retry")) return *hint == "true";
  const long s = response.status;
  return s == 408 || s == 409 || s == 429 || s >= 500;
}

// Exponential backoff from 0.5 s up to 8 s with up to 25 % jitter, or the server's
// Retry-After when it asks for at most a minute.
milliseconds retry_delay(int attempt, const http::Response* response) {
  if (response) {
    if (const auto after = response->header("retry-after")) {
      char* end = nullptr;
      const double seconds = std::strtod(after->c_str(), &end);
      if (end != after->c_str() && *end == '\0' && seconds > 0 && seconds <= 60) {
        return milliseconds(static_cast<long>(seconds * 1000));
      }
    }
  }
  thread_local std::mt19937 random{std::random_device{}()};
  const double base = std::min(0.5 * (1 << std::min(attempt, 4)), 8.0);
  const double jitter = 1.0 - 0.25 * std::uniform_real_distribution<>(0, 1)(random);
  return milliseconds(static_cast<long>(base * jitter * 1000));
}

class RestAudioTranscriptionsConnection : public AudioTranscriptionsConnection {
 public:
  explicit RestAudioTranscriptionsConnection(ClientOptions options)
      : max_retries_(std::max(options.max_retries, 0)), stub_(options) {}

  Transcription create_transcription(const TranscriptionCreateParams& params) override {
    for (int attempt = 0;; ++attempt) {
      const bool last = attempt >= max_retries_;
      http::Response response;
      try {
        response = stub_.send(params);
      } catch (const APIConnectionError&) {
        if (last) throw;
        std::this_thread::sleep_for(retry_delay(attempt, nullptr));
        continue;
      }
      if (!response.ok() && !last && should_retry(response)) {
        std::this_thread::sleep_for(retry_delay(attempt, &response));
        continue;
      }
      return internal::to_transcription(response, params.response_format);
    }
  }

 private:
  int max_retries_;
  internal::AudioTranscriptionsRestStub stub_;
};

}  // namespace

std::shared_ptr<AudioTranscriptionsConnection> make_audio_transcriptions_connection(
    ClientOptions options) {
  return std::make_shared<RestAudioTranscriptionsConnection>(std::move(options));
}

}  // namespace clients::openai
