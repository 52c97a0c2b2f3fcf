#include "qorl_multimodal/modality_converter/audio_to_text/google_cloud_audio_to_text.hpp"

#include <boost/asio/this_coro.hpp>
#include <boost/uuid/uuid_generators.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <chrono>

#include "clients/google/errors.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/json.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_sources.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/language_names.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::google_cloud_audio_to_text {

namespace google = clients::google;
using qorl_core::Bytes;

namespace {

// The service takes at most 3 further languages.
constexpr std::size_t kMaxAlternativeLanguages = 3;
// How long the deletion of a cancelled conversion's object may take.
constexpr std::chrono::seconds kCleanupDeadline{10};

std::shared_ptr<google::Credentials> load_credentials(const qorl_core::Value& credentials_json) {
  std::vector<std::string> scopes{std::string(google::CLOUD_PLATFORM_SCOPE)};
  if (credentials_json.is_string()) {
    return std::make_shared<google::ServiceAccountCredentials>(
        google::ServiceAccountCredentials::from_file(credentials_json.as_string(),
                                                     std::move(scopes)));
  }
  // Key content; anything but a map of the key's fields is refused by the key parser.
  return std::make_shared<google::ServiceAccountCredentials>(
      google::ServiceAccountCredentials::from_json(
          qorl_core::to_ordered_json(credentials_json).dump(), std::move(scopes)));
}

std::vector<std::string> first_alternatives(std::optional<std::vector<std::string>> codes) {
  if (!codes) return {"id-ID", "en-US", "en-GB"};
  if (codes->size() > kMaxAlternativeLanguages) codes->resize(kMaxAlternativeLanguages);
  return std::move(*codes);
}

}  // namespace

GoogleCloudAudioToText::GoogleCloudAudioToText(Params params)
    : GoogleCloudAudioToText(params, load_credentials(params.credentials_json)) {}

GoogleCloudAudioToText::GoogleCloudAudioToText(Params params,
                                               std::shared_ptr<google::Credentials> credentials)
    : speech_client(google::SpeechOptions{.credentials = credentials}),
      storage_client(google::StorageOptions{.credentials = credentials}),
      bucket_name(std::move(params.bucket_name)),
      language_code(std::move(params.language_code)),
      alternative_language_codes(first_alternatives(std::move(params.alternative_language_codes))),
      model(std::move(params.model)),
      timeout(params.timeout),
      proxy(std::move(params.proxy)),
      credentials_(std::move(credentials)) {}

boost::asio::awaitable<std::vector<AudioTranscript>> GoogleCloudAudioToText::convert(
    std::string audio_source) {
  Bytes audio_binary_data =
      co_await audio_sources::read_audio_source(logger(), audio_source, proxy);
  co_return co_await _transcribe_audio_binary(std::move(audio_binary_data));
}

boost::asio::awaitable<std::vector<AudioTranscript>>
GoogleCloudAudioToText::_transcribe_audio_binary(Bytes audio_binary_data) const {
  Bytes flac_binary_data = co_await utils::audio_to_text_utils::async_convert_audio_to_mono_flac(
      std::move(audio_binary_data), blocking_executor());
  const bool is_exceed_max_duration =
      utils::audio_to_text_utils::get_audio_duration(flac_binary_data) > MAX_AUDIO_DURATION;

  google::RecognitionAudio audio;
  std::optional<std::string> blob_name;
  if (is_exceed_max_duration) {
    logger().debug("Audio duration exceeds %d seconds, uploading to GCS", MAX_AUDIO_DURATION);
    blob_name = co_await _upload_audio_to_gcs(std::move(flac_binary_data));
    audio.uri = "gs://" + bucket_name + "/" + *blob_name;
  } else {
    audio.content = std::move(flac_binary_data.str());
  }

  google::RecognitionConfig config;
  config.enable_automatic_punctuation = true;
  config.language_code = language_code;
  config.alternative_language_codes = alternative_language_codes;
  config.model = model;
  config.audio_channel_count = 1;
  logger().debug("Transcribing audio with config: %s", google::to_json(config));

  google::LongRunningRecognizeResponse response;
  std::exception_ptr failure;
  bool cancelled = false;
  try {
    const google::Operation operation =
        co_await speech_client.long_running_recognize(std::move(config), std::move(audio));
    response = co_await speech_client.wait_for_response(operation, std::chrono::seconds(timeout));
  } catch (const std::exception& error) {
    cancelled = qorl_core::is_cancellation(error);
    if (!cancelled) logger().error("Error transcribing audio: %s", error.what());
    failure = std::current_exception();
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    // The object would otherwise stay in the bucket for good; the recognition error is the one
    // the caller needs.
    if (blob_name && cancelled) {
      // A cancelled thread refuses every further co_await until its state is reset.
      co_await boost::asio::this_coro::reset_cancellation_state();
      co_await delete_after_cancellation(*blob_name);
    }
    if (blob_name && !cancelled) co_await delete_quietly(*blob_name);
    std::rethrow_exception(failure);
  }
  logger().debug("Received transcription response with %d results", response.results.size());

  // The transcript is in hand: losing it over a failed clean-up would be worse than the leak.
  if (blob_name) co_await delete_quietly(*blob_name);
  co_return _convert_google_cloud_response_to_audio_transcripts(response);
}

boost::asio::awaitable<std::string> GoogleCloudAudioToText::_upload_audio_to_gcs(
    Bytes audio_binary_data) const {
  boost::uuids::random_generator uuid4;
  const std::string destination_blob_name =
      "audio-files/" + boost::uuids::to_string(uuid4()) + ".flac";
  std::exception_ptr cancellation;
  try {
    co_await storage_client.insert_object(bucket_name, destination_blob_name,
                                          std::move(audio_binary_data.str()));
  } catch (const std::exception& error) {
    if (!qorl_core::is_cancellation(error)) throw;
    cancellation = std::current_exception();
  }
  if (cancellation) {
    // The object may be stored even though its answer never came.
    co_await boost::asio::this_coro::reset_cancellation_state();
    co_await delete_after_cancellation(destination_blob_name);
    std::rethrow_exception(cancellation);
  }
  logger().debug("Successfully uploaded audio to GCS: %s", destination_blob_name);
  co_return destination_blob_name;
}

boost::asio::awaitable<void> GoogleCloudAudioToText::_delete_file_from_gcs(
    std::string destination_blob_name) const {
  co_await delete_with(storage_client, std::move(destination_blob_name));
}

boost::asio::awaitable<void> GoogleCloudAudioToText::delete_with(
    google::StorageClient storage, std::string destination_blob_name) const {
  co_await storage.delete_object(bucket_name, destination_blob_name);
  logger().debug("Successfully deleted audio file from GCS: %s", destination_blob_name);
}

boost::asio::awaitable<void> GoogleCloudAudioToText::delete_quietly(
    std::string destination_blob_name) const {
  try {
    co_await _delete_file_from_gcs(destination_blob_name);
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error)) throw;
    logger().warning("Failed to delete audio file from GCS: %s with error: %s",
                     destination_blob_name, error.what());
  }
}

boost::asio::awaitable<void> GoogleCloudAudioToText::delete_after_cancellation(
    std::string destination_blob_name) const {
  google::StorageOptions options{.credentials = credentials_};
  options.policy.retry.deadline = kCleanupDeadline;
  const google::StorageClient storage(std::move(options));
  try {
    co_await delete_with(storage, destination_blob_name);
  } catch (const std::exception& error) {
    // Cancelled before the upload was stored: nothing to remove.
    const auto* answer = dynamic_cast<const google::HttpError*>(&error);
    if (answer && answer->status() == 404) co_return;
    logger().warning("Failed to delete audio file from GCS: %s with error: %s",
                     destination_blob_name, error.what());
  }
}

std::vector<AudioTranscript>
GoogleCloudAudioToText::_convert_google_cloud_response_to_audio_transcripts(
    const google::LongRunningRecognizeResponse& response) const {
  std::vector<AudioTranscript> transcripts;
  std::int64_t previous_end = 0;
  for (const google::SpeechRecognitionResult& result : response.results) {
    if (result.alternatives.empty()) throw qorl_core::IndexError("list index out of range");
    // Whole seconds: the fraction is dropped.
    const std::int64_t end =
        std::chrono::duration_cast<std::chrono::seconds>(result.result_end_time).count();
    AudioTranscript record;
    record.text = result.alternatives.front().transcript;
    record.start_time = static_cast<double>(previous_end);
    record.end_time = static_cast<double>(end);
    record.lang_id = _convert_language_code_to_iso_639(result.language_code);
    transcripts.push_back(std::move(record));
    previous_end = end;
  }
  return transcripts;
}

std::optional<std::string> GoogleCloudAudioToText::_convert_language_code_to_iso_639(
    const std::string& language_code) const {
  std::optional<std::string> code = utils::language_names::language_of_tag(language_code);
  if (!code) logger().debug("Failed to convert language code: %s to ISO 639 code", language_code);
  return code;
}

}  // namespace qorl_multimodal::modality_converter::audio_to_text::google_cloud_audio_to_text
