// One HTTP exchange of the audio transcription operation, on the wire as the official clients
// send it.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <optional>
#include <string>
#include <vector>

#include "clients/http/http.hpp"
#include "clients/openai/audio_transcriptions.hpp"

namespace clients::openai::internal {

// The multipart parts in the official clients' order: the form fields (model, language,
// prompt, response_format, temperature, timestamp_granularities[]) with absent ones left out,
// then the file.
std::vector<http::FormPart> transcription_form(const TranscriptionCreateParams& params);

class AudioTranscriptionsRestStub {
 public:
  explicit AudioTranscriptionsRestStub(const ClientOptions& options);

  // Sends the request, again after transient failures as the policy allows, and returns the
  // answer, whatever its status. Throws APIConnectionError when the exchange does not complete.
  boost::asio::awaitable<http::Response> send(TranscriptionCreateParams params) const;

 private:
  std::string api_key_;
  std::string url_;
  http::CallPolicy policy_;
};

// The answer as a Transcription; the APIStatusError kind of its status when it is not a
// success.
Transcription to_transcription(const http::Response& response,
                               const std::optional<std::string>& response_format);

}  // namespace clients::openai::internal
