// The audio frame and its five transcription backends, built from keyword arguments.
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "python/src/bindings.hpp"
#include "python/src/operations.hpp"
#include "python/src/values.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/gemini_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/google_cloud_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/prosa_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/youtube_transcript_audio_to_text.hpp"

namespace qorl_python {

namespace {

namespace att = qorl_multimodal::modality_converter::audio_to_text;
using att::audio_to_text::AudioTranscript;
using att::audio_to_text::BaseAudioToText;
using att::gemini_audio_to_text::GeminiAudioToText;
using att::google_cloud_audio_to_text::GoogleCloudAudioToText;
using att::openai_whisper_audio_to_text::OpenAIWhisperAudioToText;
using att::prosa_audio_to_text::ProsaAudioToText;
using att::youtube_transcript_audio_to_text::YouTubeTranscriptAudioToText;
using Strings = std::optional<std::vector<std::string>>;

auto prepare_convert(std::shared_ptr<BaseAudioToText> self, std::string audio_source) {
  return Prepared{
      [self, audio_source = std::move(audio_source)] { return self->convert(audio_source); },
      [](std::vector<AudioTranscript> records) { return to_python_output(std::move(records)); }};
}

void bind_frame(py::module_& module) {
  py::class_<BaseAudioToText, std::shared_ptr<BaseAudioToText>> frame(module, "BaseAudioToText");
  def_operation(frame, "convert", +prepare_convert, py::arg("audio_source"));
  def_operation(frame, "run", +prepare_run<BaseAudioToText>);
  def_set_blocking_threads(frame);
}

void bind_whisper(py::module_& module) {
  py::class_<OpenAIWhisperAudioToText, BaseAudioToText, std::shared_ptr<OpenAIWhisperAudioToText>>(
      module, "OpenAIWhisperAudioToText")
      .def(py::init([](std::string api_key, std::string model, std::optional<std::string> language,
                       std::optional<std::string> prompt, double temperature,
                       std::string timestamp_granularity, std::optional<std::string> proxy,
                       Strings skip_conversion_for_formats, std::optional<std::string> base_url,
                       bool chunk_long_audio, std::size_t max_concurrent_pieces) {
             return std::make_shared<OpenAIWhisperAudioToText>(OpenAIWhisperAudioToText::Params{
                 std::move(api_key), std::move(model), std::move(language), std::move(prompt),
                 temperature, std::move(timestamp_granularity), std::move(proxy),
                 std::move(skip_conversion_for_formats), std::move(base_url), chunk_long_audio,
                 max_concurrent_pieces});
           }),
           py::kw_only(), py::arg("api_key"), py::arg("model") = "whisper-1",
           py::arg("language") = py::none(), py::arg("prompt") = py::none(),
           py::arg("temperature") = 0.0, py::arg("timestamp_granularity") = "segment",
           py::arg("proxy") = py::none(), py::arg("skip_conversion_for_formats") = py::none(),
           py::arg("base_url") = py::none(), py::arg("chunk_long_audio") = false,
           py::arg("max_concurrent_pieces") = 4)
      .def_readwrite("model", &OpenAIWhisperAudioToText::model)
      .def_readwrite("language", &OpenAIWhisperAudioToText::language)
      .def_readwrite("prompt", &OpenAIWhisperAudioToText::prompt)
      .def_readwrite("temperature", &OpenAIWhisperAudioToText::temperature)
      .def_readwrite("timestamp_granularity", &OpenAIWhisperAudioToText::timestamp_granularity)
      .def_readwrite("proxy", &OpenAIWhisperAudioToText::proxy)
      .def_readwrite("skip_conversion_for_formats",
                     &OpenAIWhisperAudioToText::skip_conversion_for_formats);
  module.attr("WHISPER_MAX_AUDIO_SIZE") = att::openai_whisper_audio_to_text::MAX_AUDIO_SIZE;
}

void bind_google_cloud(py::module_& module) {
  py::class_<GoogleCloudAudioToText, BaseAudioToText, std::shared_ptr<GoogleCloudAudioToText>>(
      module, "GoogleCloudAudioToText")
      .def(py::init([](py::handle credentials_json, std::string bucket_name,
                       std::string language_code, Strings alternative_language_codes,
                       std::string model, int timeout, std::optional<std::string> proxy) {
             return std::make_shared<GoogleCloudAudioToText>(GoogleCloudAudioToText::Params{
                 to_value(credentials_json), std::move(bucket_name), std::move(language_code),
                 std::move(alternative_language_codes), std::move(model), timeout,
                 std::move(proxy)});
           }),
           py::kw_only(), py::arg("credentials_json"), py::arg("bucket_name"),
           py::arg("language_code") = "id-ID", py::arg("alternative_language_codes") = py::none(),
           py::arg("model") = "latest_long", py::arg("timeout") = 300,
           py::arg("proxy") = py::none())
      .def_readwrite("bucket_name", &GoogleCloudAudioToText::bucket_name)
      .def_readwrite("language_code", &GoogleCloudAudioToText::language_code)
      .def_readwrite("alternative_language_codes",
                     &GoogleCloudAudioToText::alternative_language_codes)
      .def_readwrite("model", &GoogleCloudAudioToText::model)
      .def_readwrite("timeout", &GoogleCloudAudioToText::timeout)
      .def_readwrite("proxy", &GoogleCloudAudioToText::proxy);
}

void bind_prosa(py::module_& module) {
  py::class_<ProsaAudioToText, BaseAudioToText, std::shared_ptr<ProsaAudioToText>>(
      module, "ProsaAudioToText")
      .def(
          py::init([](std::string api_key, std::string url, std::string model,
                      std::int64_t polling_interval, std::optional<std::int64_t> max_polls) {
            return std::make_shared<ProsaAudioToText>(ProsaAudioToText::Params{
                std::move(api_key), std::move(url), std::move(model), polling_interval, max_polls});
          }),
          py::kw_only(), py::arg("api_key"), py::arg("url") = att::prosa_audio_to_text::DEFAULT_URL,
          py::arg("model") = "stt-general",
          py::arg("polling_interval") = att::prosa_audio_to_text::MIN_POLLING_INTERVAL,
          py::arg("max_polls") = att::prosa_audio_to_text::DEFAULT_MAX_POLLS)
      .def_readwrite("api_key", &ProsaAudioToText::api_key)
      .def_readwrite("url", &ProsaAudioToText::url)
      .def_readwrite("model", &ProsaAudioToText::model)
      .def_readwrite("max_polls", &ProsaAudioToText::max_polls)
      .def_property(
          "polling_interval", [](const ProsaAudioToText& self) { return self.polling_interval(); },
          [](ProsaAudioToText& self, py::handle value) { self.polling_interval(to_value(value)); });
}

void bind_youtube(py::module_& module) {
  py::class_<YouTubeTranscriptAudioToText, BaseAudioToText,
             std::shared_ptr<YouTubeTranscriptAudioToText>>(module, "YouTubeTranscriptAudioToText")
      .def(py::init([](Strings preferred_lang_ids, bool allow_non_preferred_lang_ids,
                       bool allow_auto_generated_transcripts, std::optional<std::string> proxy,
                       std::shared_ptr<BaseAudioToText> fallback_backend,
                       std::optional<std::string> translate_to) {
             return std::make_shared<YouTubeTranscriptAudioToText>(
                 YouTubeTranscriptAudioToText::Params{
                     std::move(preferred_lang_ids), allow_non_preferred_lang_ids,
                     allow_auto_generated_transcripts, std::move(proxy),
                     std::move(fallback_backend), std::move(translate_to)});
           }),
           py::kw_only(), py::arg("preferred_lang_ids") = py::none(),
           py::arg("allow_non_preferred_lang_ids") = false,
           py::arg("allow_auto_generated_transcripts") = false, py::arg("proxy") = py::none(),
           py::arg("fallback_backend") = py::none(), py::arg("translate_to") = py::none())
      .def_readwrite("preferred_lang_ids", &YouTubeTranscriptAudioToText::preferred_lang_ids)
      .def_readwrite("allow_non_preferred_lang_ids",
                     &YouTubeTranscriptAudioToText::allow_non_preferred_lang_ids)
      .def_readwrite("allow_auto_generated_transcripts",
                     &YouTubeTranscriptAudioToText::allow_auto_generated_transcripts)
      .def_readwrite("proxy", &YouTubeTranscriptAudioToText::proxy)
      .def_readonly("fallback_backend", &YouTubeTranscriptAudioToText::fallback_backend)
      .def_readwrite("translate_to", &YouTubeTranscriptAudioToText::translate_to);
}

void bind_gemini(py::module_& module) {
  namespace gemini = att::gemini_audio_to_text;
  py::class_<GeminiAudioToText, BaseAudioToText, std::shared_ptr<GeminiAudioToText>>(
      module, "GeminiAudioToText")
      .def(py::init([](std::string api_key, std::string model, std::string system_prompt,
                       std::string user_prompt, int max_retries, double timeout,
                       std::optional<std::string> base_url) {
             return std::make_shared<GeminiAudioToText>(GeminiAudioToText::Params{
                 std::move(api_key), std::move(model), std::move(system_prompt),
                 std::move(user_prompt), max_retries, timeout, std::move(base_url)});
           }),
           py::kw_only(), py::arg("api_key"), py::arg("model") = "gemini-2.5-flash",
           py::arg("system_prompt") = std::string(gemini::DEFAULT_SYSTEM_PROMPT),
           py::arg("user_prompt") = std::string(gemini::DEFAULT_USER_PROMPT),
           py::arg("max_retries") = 0, py::arg("timeout") = 0.0, py::arg("base_url") = py::none())
      .def_readwrite("model", &GeminiAudioToText::model)
      .def_readwrite("system_prompt", &GeminiAudioToText::system_prompt)
      .def_readwrite("user_prompt", &GeminiAudioToText::user_prompt);
}

}  // namespace

void bind_audio(py::module_& module) {
  bind_frame(module);
  bind_whisper(module);
  bind_google_cloud(module);
  bind_prosa(module);
  bind_youtube(module);
  bind_gemini(module);
}

}  // namespace qorl_python
