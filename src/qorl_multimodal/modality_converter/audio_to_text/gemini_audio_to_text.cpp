#include "qorl_multimodal/modality_converter/audio_to_text/gemini_audio_to_text.hpp"

#include <filesystem>
#include <system_error>

#include "qorl_core/errors.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_inference/attachment.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/message.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/sendable_media.hpp"
#include "qorl_multimodal/utils/unsupported_media.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::gemini_audio_to_text {

namespace json_schema = qorl_inference::json_schema;
using qorl_inference::Attachment;
using qorl_inference::Message;
using qorl_core::redaction::redact_url;

namespace {

qorl_inference::GoogleLMInvokerOptions invoker_options(const GeminiAudioToText::Params& params) {
  qorl_inference::GoogleLMInvokerOptions options;
  options.model_name = params.model;
  options.api_key = params.api_key;
  options.response_schema = AudioTranscripts::response_schema();
  options.retry_config = {params.max_retries, params.timeout};
  options.base_url = params.base_url.value_or("");
  return options;
}

// An existing regular file; a path holding a NUL byte names no file.
bool is_regular_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) return false;
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// The content must be sound: libmagic's type of the file's first bytes is audio, or a video
// container (webm and Matroska audio read as video). A renamed text file is refused here rather
// than uploaded and "transcribed".
void require_audio_content(const Attachment& attachment) {
  const std::string& type = attachment.mime_type;
  if (type.starts_with("audio/") || type.starts_with("video/")) return;
  throw utils::unsupported_media::UnsupportedMediaError(
      "Not an audio file: " + qorl_core::repr(attachment.filename) + " holds " + type + ".");
}

// Links such as "youtu.be/ID" are recognised without a scheme, but the model needs an absolute URL.
std::string absolute_url(const std::string& link) {
  return link.find("://") == std::string::npos ? "https://" + link : link;
}

}  // namespace

const qorl_core::Schema<AudioTranscripts>& AudioTranscripts::schema() {
  static const qorl_core::Schema<AudioTranscripts> kSchema{
      "AudioTranscripts",
      {qorl_core::field("audio_transcripts", &AudioTranscripts::audio_transcripts)}};
  return kSchema;
}

std::shared_ptr<qorl_inference::ResponseSchema> AudioTranscripts::response_schema() {
  return qorl_inference::ResponseSchema::of<AudioTranscripts>(json_schema::object(
      {{"audio_transcripts", json_schema::array(json_schema::object(
                                 {{"text", json_schema::text()},
                                  {"start_time", json_schema::number()},
                                  {"end_time", json_schema::number()},
                                  {"lang_id", json_schema::nullable(json_schema::text())}}))}}));
}

GeminiAudioToText::GeminiAudioToText(Params params)
    : model(params.model),
      system_prompt(params.system_prompt),
      user_prompt(params.user_prompt),
      client(invoker_options(params)) {}

boost::asio::awaitable<std::vector<AudioTranscript>> GeminiAudioToText::convert(
    std::string audio_source) {
  co_return co_await convert(std::move(audio_source), nullptr);
}

boost::asio::awaitable<std::vector<AudioTranscript>> GeminiAudioToText::convert(
    std::string audio_source, std::shared_ptr<qorl_inference::EventEmitter> event_emitter) {
  logger().debug("Converting audio source: " + redact_url(audio_source));

  std::shared_ptr<Attachment> attachment;
  if (utils::audio_to_text_utils::is_youtube_url(audio_source)) {
    attachment = Attachment::from_url(absolute_url(audio_source));
  } else if (is_regular_file(audio_source)) {
    logger().debug("Audio source is a local file: " + audio_source);
    attachment = Attachment::from_path(audio_source);
    require_audio_content(*attachment);
    attachment =
        co_await utils::sendable_media::sendable_audio_file(std::move(attachment), audio_source);
  } else {
    throw utils::unsupported_media::UnsupportedMediaError(
        "Invalid audio source: " + redact_url(audio_source) + ".");
  }

  logger().debug("Generating content using model: " + model + ", system prompt: " + system_prompt +
                 ", user prompt: " + user_prompt);
  std::vector<Message> messages{Message::system(system_prompt),
                                Message::user({attachment, user_prompt})};
  // A named awaitable: no temporary of the call lives across the suspension (GCC 12).
  auto invocation = client.invoke(std::move(messages), std::move(event_emitter));
  const qorl_inference::LMResponse response = co_await std::move(invocation);

  const auto parsed = response.structured_output_as<AudioTranscripts>();
  if (!parsed) throw qorl_inference::BaseInvokerError("The model's answer carries no transcripts");
  logger().debug("Successfully generated " + std::to_string(parsed->audio_transcripts.size()) +
                 " audio transcripts.");
  co_return parsed->audio_transcripts;
}

}  // namespace qorl_multimodal::modality_converter::audio_to_text::gemini_audio_to_text
