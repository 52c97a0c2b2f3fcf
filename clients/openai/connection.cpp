// The default connection: the REST stub's answer read as a transcription.
#include "clients/openai/audio_transcriptions.hpp"
#include "clients/openai/rest_stub.hpp"

namespace clients::openai {

namespace {

class RestAudioTranscriptionsConnection : public AudioTranscriptionsConnection {
 public:
  explicit RestAudioTranscriptionsConnection(const ClientOptions& options) : stub_(options) {}

  boost::asio::awaitable<Transcription> create_transcription(
      TranscriptionCreateParams params) override {
    const std::optional<std::string> format = params.response_format;
    const http::Response response = co_await stub_.send(std::move(params));
    co_return internal::to_transcription(response, format);
  }

 private:
  internal::AudioTranscriptionsRestStub stub_;
};

}  // namespace

std::shared_ptr<AudioTranscriptionsConnection> make_audio_transcriptions_connection(
    ClientOptions options) {
  return std::make_shared<RestAudioTranscriptionsConnection>(options);
}

}  // namespace clients::openai
