// A audio to text converter using Gemini.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qorl_core/record.hpp"
#include "qorl_inference/google_lm_invoker.hpp"
#include "qorl_inference/response_schema.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_to_text.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::gemini_audio_to_text {

using schema::audio_transcript::AudioTranscript;

inline constexpr const char* DEFAULT_SYSTEM_PROMPT =
    "You are a transcription assistant.\n"
    "\n"
    "Your job is to convert audio into structured transcripts.\n"
    "\n"
    "Output format:\n"
    "- Always return at least one item in 'audio_transcripts'.\n"
    "- Each item must include: text, start_time (sec), end_time (sec), lang_id.\n"
    "- Segments must be chronological, with no gaps or overlaps.\n"
    "\n"
    "Guidelines:\n"
    "1. Write speech verbatim with correct punctuation and casing.\n"
    "2. Start a new segment on speaker change, using \"Speaker N:\".\n"
    "3. For non-speech (silence, music, noise, visuals), add a segment starting with "
    "\"Non-speech:\", set lang_id=null.\n"
    "4. If audio is unclear, mark it with \"[inaudible]\" or \"[crosstalk]\".\n"
    "5. Use ISO 639-1 codes for lang_id (e.g., 'en', 'id'); use null if unknown.\n"
    "6. Align timestamps closely with actual speech boundaries.\n"
    "7. Never invent or alter speech; preserve original meaning.\n";

inline constexpr const char* DEFAULT_USER_PROMPT =
    "Please transcribe the audio from the attached media file.";

// Schema for audio transcripts response from Gemini API.
struct AudioTranscripts : qorl_core::Record<AudioTranscripts> {
  std::vector<AudioTranscript> audio_transcripts;

  static const qorl_core::Schema<AudioTranscripts>& schema();
  // The record as the model's structured output, with its JSON Schema.
  static std::shared_ptr<qorl_inference::ResponseSchema> response_schema();
};

class GeminiAudioToText : public audio_to_text::BaseAudioToText {
 public:
  struct Params {
    std::string api_key{};
    std::string model = "gemini-2.5-flash";
    std::string system_prompt = DEFAULT_SYSTEM_PROMPT;
    std::string user_prompt = DEFAULT_USER_PROMPT;
    int max_retries = 0;
    // Seconds per attempt; 0 means no limit.
    double timeout = 0.0;
    // The service's address; none: env GOOGLE_GEMINI_BASE_URL, else the public service.
    std::optional<std::string> base_url{};
  };

  // Builds the invoker; sends no request.
  explicit GeminiAudioToText(Params params);

  // Converts an audio source to text: a YouTube link is attached as a URL, an existing regular
  // file by its path; ValueError "Invalid audio source: <source>." for anything else, before
  // any request. The model's records come back as they are.
  boost::asio::awaitable<std::vector<AudioTranscript>> convert(std::string audio_source) override;
  // The same, with the model call's "usage" and "response" events sent to `event_emitter` (the
  // backend is shared by concurrent conversions, so each brings its own).
  boost::asio::awaitable<std::vector<AudioTranscript>> convert(
      std::string audio_source, std::shared_ptr<qorl_inference::EventEmitter> event_emitter);

  std::string model;
  std::string system_prompt;
  std::string user_prompt;
  qorl_inference::GoogleLMInvoker client;
};

}  // namespace qorl_multimodal::modality_converter::audio_to_text::gemini_audio_to_text
