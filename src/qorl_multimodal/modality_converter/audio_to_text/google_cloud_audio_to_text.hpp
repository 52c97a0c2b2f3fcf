// An audio to text converter using Google Cloud Speech-to-Text.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clients/google/speech.hpp"
#include "clients/google/storage.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_to_text.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::google_cloud_audio_to_text {

using schema::audio_transcript::AudioTranscript;

// Audio longer than this many seconds goes through a Cloud Storage object instead of inline.
inline constexpr int MAX_AUDIO_DURATION = 60;

class GoogleCloudAudioToText : public audio_to_text::BaseAudioToText {
 public:
  struct Params {
    // Text: the path of a service-account key file; a map: the key content itself.
    qorl_core::Value credentials_json{};
    // Holds the temporary objects of long audio.
    std::string bucket_name{};
    std::string language_code = "id-ID";
    // None: "id-ID", "en-US", "en-GB"; a longer list is cut to its first 3.
    std::optional<std::vector<std::string>> alternative_language_codes{};
    std::string model = "latest_long";
    // Seconds to wait for the recognition. Defaults to 5 minutes.
    int timeout = 300;
    // Used only for YouTube downloads.
    std::optional<std::string> proxy{};
  };

  // Loads the credentials (throws the credential library's error for a missing or malformed
  // key); sends no request.
  explicit GoogleCloudAudioToText(Params params);

  // Convert audio to text using Google Cloud Speech-to-Text. The source is tried as a file
  // path, base64 text, a downloadable URL and a YouTube URL, in this order; ValueError
  // "Unsupported audio source" when none yields audio.
  boost::asio::awaitable<std::vector<AudioTranscript>> convert(std::string audio_source) override;

  clients::google::SpeechClient speech_client;
  clients::google::StorageClient storage_client;
  std::string bucket_name;
  std::string language_code;
  std::vector<std::string> alternative_language_codes;
  std::string model;
  int timeout;
  std::optional<std::string> proxy;

 protected:
  // Transcribe audio binary data using Google Cloud Speech-to-Text: mono FLAC, inline up to
  // MAX_AUDIO_DURATION seconds, else through a temporary Cloud Storage object that is deleted
  // on every path, cancellation included. Waits (on timers) until the recognition ends or
  // `timeout` passes.
  boost::asio::awaitable<std::vector<AudioTranscript>> _transcribe_audio_binary(
      qorl_core::Bytes audio_binary_data) const;

  // Uploads to "audio-files/<uuid4>.flac" in the bucket; returns the object name.
  boost::asio::awaitable<std::string> _upload_audio_to_gcs(
      qorl_core::Bytes audio_binary_data) const;

  // Errors (an object already gone) propagate.
  boost::asio::awaitable<void> _delete_file_from_gcs(std::string destination_blob_name) const;

  // One record per result, with whole-second times: each starts where the previous ended.
  // IndexError for a result without alternatives.
  std::vector<AudioTranscript> _convert_google_cloud_response_to_audio_transcripts(
      const clients::google::LongRunningRecognizeResponse& response) const;

  std::optional<std::string> _convert_language_code_to_iso_639(
      const std::string& language_code) const;

 private:
  GoogleCloudAudioToText(Params params, std::shared_ptr<clients::google::Credentials> credentials);

  // After a failed recognition, or when the transcript is already in hand: a failed deletion is
  // logged, not raised.
  boost::asio::awaitable<void> delete_quietly(std::string destination_blob_name) const;
  // After a cancellation (its state reset): the deletion runs anyway, within a short deadline
  // of its own; a failure is logged.
  boost::asio::awaitable<void> delete_after_cancellation(std::string destination_blob_name) const;
  boost::asio::awaitable<void> delete_with(clients::google::StorageClient storage,
                                           std::string destination_blob_name) const;

  std::shared_ptr<clients::google::Credentials> credentials_;
};

}  // namespace qorl_multimodal::modality_converter::audio_to_text::google_cloud_audio_to_text
