// transcribe: timed transcripts of audio through one of five backends.
#include <CLI/CLI.hpp>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands/commands.hpp"
#include "cli/credentials.hpp"
#include "cli/exit_status.hpp"
#include "cli/output.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_multimodal/batch/transcription_run.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/gemini_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/google_cloud_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/prosa_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/youtube_transcript_audio_to_text.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"

namespace qorl_cli::commands {
namespace {

namespace audio = qorl_multimodal::modality_converter::audio_to_text;
namespace utils = qorl_multimodal::utils;
using audio::audio_to_text::BaseAudioToText;

struct TranscribeArguments {
  SourceArguments common;
  std::string backend;
  std::string format = "text";
  std::string model;
  std::optional<std::string> language;
  std::optional<std::string> prompt;
  std::optional<double> temperature;
  bool chunk = false;
  std::optional<std::string> proxy;
  std::string bucket;
  std::optional<std::vector<std::string>> alternative_languages;
  std::optional<std::string> url;
  std::optional<std::int64_t> polling_interval;
  std::optional<std::int64_t> max_polls;
  std::optional<std::vector<std::string>> preferred_languages;
  bool allow_non_preferred = false;
  bool allow_auto_generated = false;
  std::optional<std::string> fallback;
  std::optional<std::string> translate_to;
};

using BackendPointer = std::shared_ptr<BaseAudioToText>;

BackendPointer make_whisper(const TranscribeArguments& args) {
  audio::openai_whisper_audio_to_text::OpenAIWhisperAudioToText::Params params;
  params.api_key = credentials::require_env({"OPENAI_API_KEY"}, "the whisper backend");
  if (!args.model.empty()) params.model = args.model;
  params.language = args.language;
  params.prompt = args.prompt;
  if (args.temperature) params.temperature = *args.temperature;
  params.chunk_long_audio = args.chunk;
  params.proxy = args.proxy;
  return std::make_shared<audio::openai_whisper_audio_to_text::OpenAIWhisperAudioToText>(params);
}

BackendPointer make_google_cloud(const TranscribeArguments& args) {
  audio::google_cloud_audio_to_text::GoogleCloudAudioToText::Params params;
  params.credentials_json = credentials::require_service_account_key(
      "GOOGLE_APPLICATION_CREDENTIALS", "the google-cloud backend");
  if (args.bucket.empty()) throw UsageError("--bucket is required by --backend google-cloud");
  params.bucket_name = args.bucket;
  if (args.language) params.language_code = *args.language;
  params.alternative_language_codes = args.alternative_languages;
  if (!args.model.empty()) params.model = args.model;
  params.proxy = args.proxy;
  return std::make_shared<audio::google_cloud_audio_to_text::GoogleCloudAudioToText>(params);
}

BackendPointer make_prosa(const TranscribeArguments& args) {
  audio::prosa_audio_to_text::ProsaAudioToText::Params params;
  params.api_key = credentials::require_env({"PROSA_API_KEY"}, "the prosa backend");
  if (args.url) params.url = *args.url;
  if (!args.model.empty()) params.model = args.model;
  if (args.polling_interval) params.polling_interval = *args.polling_interval;
  if (args.max_polls) params.max_polls = *args.max_polls;
  return std::make_shared<audio::prosa_audio_to_text::ProsaAudioToText>(params);
}

// The --fallback backend of the youtube backend; none without one.
BackendPointer make_fallback(const TranscribeArguments& args);

BackendPointer make_youtube(const TranscribeArguments& args) {
  audio::youtube_transcript_audio_to_text::YouTubeTranscriptAudioToText::Params params;
  params.preferred_lang_ids = args.preferred_languages;
  params.allow_non_preferred_lang_ids = args.allow_non_preferred;
  params.allow_auto_generated_transcripts = args.allow_auto_generated;
  params.proxy = args.proxy;
  params.fallback_backend = make_fallback(args);
  params.translate_to = args.translate_to;
  return std::make_shared<audio::youtube_transcript_audio_to_text::YouTubeTranscriptAudioToText>(
      params);
}

BackendPointer make_gemini(const TranscribeArguments& args) {
  audio::gemini_audio_to_text::GeminiAudioToText::Params params;
  params.api_key =
      credentials::require_env({"GEMINI_API_KEY", "GOOGLE_API_KEY"}, "the gemini backend");
  if (!args.model.empty()) params.model = args.model;
  return std::make_shared<audio::gemini_audio_to_text::GeminiAudioToText>(params);
}

// What the command knows of a transcription backend.
struct Backend {
  std::string name;
  // The backend settings it reads; it refuses the others.
  std::set<std::string> settings;
  enum class Sources {
    kAny,              // a missing local file is reported before any request
    kCheckedByItself,  // links and paths go to the backend as they are
    kYouTubeLinks,     // anything else is refused before any request
  } sources;
  BackendPointer (*make)(const TranscribeArguments&);
};

const std::vector<Backend> kBackends = {
    {"whisper",
     {"--model", "--language", "--prompt", "--temperature", "--chunk", "--proxy"},
     Backend::Sources::kAny,
     make_whisper},
    {"google-cloud",
     {"--model", "--language", "--proxy", "--bucket", "--alternative-language"},
     Backend::Sources::kAny,
     make_google_cloud},
    {"prosa",
     {"--model", "--url", "--polling-interval", "--max-polls"},
     Backend::Sources::kAny,
     make_prosa},
    {"youtube",
     {"--proxy", "--preferred-language", "--allow-non-preferred", "--allow-auto-generated",
      "--fallback", "--translate-to"},
     Backend::Sources::kYouTubeLinks,
     make_youtube},
    {"gemini",
     {"--model", "--batch", "--batch-detach", "--batch-poll", "--batch-deadline"},
     Backend::Sources::kCheckedByItself,
     make_gemini},
};

std::vector<std::string> backend_names() {
  std::vector<std::string> names;
  for (const auto& backend : kBackends) names.push_back(backend.name);
  return names;
}

const Backend& find_backend(const std::string& name) {
  for (const auto& backend : kBackends) {
    if (backend.name == name) return backend;
  }
  throw UsageError("--backend: unknown backend " + name + " (one of " +
                   CLI::detail::join(backend_names(), ", ") + ")");
}

BackendPointer make_fallback(const TranscribeArguments& args) {
  return args.fallback ? find_backend(*args.fallback).make(args) : nullptr;
}

// Every backend setting, in name order, is refused by the backends that do not read it; the
// fallback backend's settings are its own.
void check_settings(const CLI::App& command, const Backend& backend, const Backend* fallback) {
  std::set<std::string> all_settings;
  for (const auto& each : kBackends)
    all_settings.insert(each.settings.begin(), each.settings.end());
  for (const auto& name : all_settings) {
    const bool read = backend.settings.count(name) || (fallback && fallback->settings.count(name));
    if (command.count(name) > 0 && !read) {
      throw UsageError(name + " does not apply to --backend " + backend.name);
    }
  }
}

output::TranscriptFormat transcript_format(const std::string& name) {
  if (name == "srt") return output::TranscriptFormat::kSrt;
  if (name == "vtt") return output::TranscriptFormat::kVtt;
  return output::TranscriptFormat::kText;
}

// Mistakes found before any request: links the backend cannot take, too many languages, and
// subtitle files that several sources would run together.
void check_arguments(const TranscribeArguments& args, const Backend& backend) {
  if (backend.sources == Backend::Sources::kYouTubeLinks) {
    for (const auto& source : args.common.sources) {
      if (!utils::audio_to_text_utils::is_youtube_url(source)) {
        throw UsageError("not a YouTube link: " + source);
      }
    }
  }
  if (args.alternative_languages && args.alternative_languages->size() > 3) {
    throw UsageError("--alternative-language takes up to 3 language codes");
  }
  const SourceSelection& selection = args.common.run.selection;
  const bool several =
      args.common.sources.size() > 1 || !selection.lists.empty() || !selection.folders.empty();
  if (args.format != "text" && several && args.common.run.report.output_dir.empty()) {
    throw UsageError("several sources with --format " + args.format +
                     " need --output-dir (one file each)");
  }
}

// The backend each source is transcribed with: the command's, or, for a manifest line with its
// own "language" or "prompt" (where the backend reads them), one made with those, kept for the
// other lines that give the same. Used on the run's loop only.
class BackendsPerSource {
 public:
  BackendsPerSource(TranscribeArguments args, const Backend& backend)
      : args_(std::move(args)), backend_(backend), default_(backend.make(args_)) {}

  // Takes the source's options out of it.
  BackendPointer for_source(batch::runner::ResolvedSource& source) {
    qorl_core::Options options = std::exchange(source.entry.options, {});
    if (options.empty()) return default_;
    TranscribeArguments args = args_;
    options.for_each([&](const std::string& name, const qorl_core::Value& value) {
      std::optional<std::string>* setting = name == "language" ? &args.language
                                            : name == "prompt" ? &args.prompt
                                                               : nullptr;
      if (!setting || !backend_.settings.count("--" + name)) {
        throw qorl_core::ValueError("unknown option \"" + name + "\" in " + source.entry.origin);
      }
      if (!value.is_string()) {
        throw qorl_core::ValueError("option \"" + name + "\" in " + source.entry.origin +
                                    " is not a text");
      }
      *setting = value.as_string();
    });
    auto [made, fresh] = made_.try_emplace({args.language, args.prompt});
    if (fresh) made->second = backend_.make(args);
    return made->second;
  }

 private:
  TranscribeArguments args_;
  const Backend& backend_;
  BackendPointer default_;
  std::map<std::pair<std::optional<std::string>, std::optional<std::string>>, BackendPointer> made_;
};

boost::asio::awaitable<batch::runner::Conversion> transcribe_one(
    std::shared_ptr<BackendsPerSource> backends, std::string fallback_name, bool check_path,
    batch::runner::ResolvedSource source) {
  if (check_path) {
    require_file_if_path(source.entry.source);
  } else {
    refuse_empty_file(source.entry.source);
  }
  BackendPointer backend = backends->for_source(source);
  co_return co_await batch::transcription_run::transcribe(std::move(backend), std::move(source),
                                                          std::move(fallback_name));
}

// Every setting that can change a transcript.
qorl_core::Options keyed_settings(const TranscribeArguments& args) {
  qorl_core::Options options;
  if (args.language) options.set("language", *args.language);
  if (args.prompt) options.set("prompt", *args.prompt);
  if (args.temperature) options.set("temperature", *args.temperature);
  if (args.chunk) options.set("chunk", true);
  if (args.url) options.set("url", *args.url);
  const auto set_list = [&options](const char* name,
                                   const std::optional<std::vector<std::string>>& values) {
    if (!values) return;
    qorl_core::List list(values->begin(), values->end());
    options.set(name, std::move(list));
  };
  set_list("alternative_languages", args.alternative_languages);
  set_list("preferred_languages", args.preferred_languages);
  if (args.allow_non_preferred) options.set("allow_non_preferred", true);
  if (args.allow_auto_generated) options.set("allow_auto_generated", true);
  if (args.fallback) options.set("fallback", *args.fallback);
  if (args.translate_to) options.set("translate_to", *args.translate_to);
  return options;
}

int run(const CLI::App& command, const TranscribeArguments& args) {
  const Backend& backend = find_backend(args.backend);
  check_settings(command, backend, args.fallback ? &find_backend(*args.fallback) : nullptr);
  check_arguments(args, backend);
  const bool check_path = backend.sources == Backend::Sources::kAny;
  const auto format = transcript_format(args.format);
  RunSettings settings = args.common.run;
  if (format != output::TranscriptFormat::kText) settings.report.extension = "." + args.format;
  Job job{.convert =
              [backends = std::make_shared<BackendsPerSource>(args, backend),
               fallback = args.fallback.value_or(""),
               check_path](batch::runner::ResolvedSource source) {
                return transcribe_one(backends, fallback, check_path, std::move(source));
              },
          .render =
              [format](const qorl_core::Value& record) {
                std::vector<output::AudioTranscript> segments;
                for (const auto& segment : record.as_list()) {
                  segments.push_back(output::AudioTranscript::from_options(segment.as_map()));
                }
                auto rendered = output::transcript(segments, format);
                return Outcome{std::move(rendered.text), record, std::move(rendered.warnings)};
              },
          .request = {.subcommand = "transcribe",
                      .backend = args.backend,
                      .model = args.model,
                      .options = keyed_settings(args)}};
  return run_jobs(args.common.sources, std::move(job), std::move(settings));
}

}  // namespace

Command add_transcribe(CLI::App& app) {
  auto args = std::make_shared<TranscribeArguments>();
  auto* command = app.add_subcommand("transcribe", "Transcribe audio into timed segments");
  add_source_arguments(
      *command, args->common,
      "Audio: paths, http(s) URLs, base64 or YouTube links (gemini: local files and "
      "YouTube links; youtube: YouTube links only)");
  add_batch_options(*command, args->common.run);
  command->add_option("-b,--backend", args->backend, "Transcription backend")
      ->required()
      ->check(CLI::IsMember(backend_names()));
  auto* format = command->add_option("-f,--format", args->format, "Output format")
                     ->check(CLI::IsMember({"text", "srt", "vtt"}));
  format->excludes(command->get_option("--json"));
  command->add_option("--model", args->model, "Backend model (default: the backend's own)");
  command->add_option("--language", args->language,
                      "whisper: spoken language; google-cloud: language code (default id-ID)");
  command->add_option("--prompt", args->prompt, "whisper: text to guide the transcription");
  command->add_option("--temperature", args->temperature, "whisper: sampling temperature, 0 to 1")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            double value = 0;
            const bool number = CLI::detail::lexical_cast(text, value);
            return number && value >= 0 && value <= 1 ? "" : "must be a number from 0 to 1";
          },
          "0 to 1"));
  command->add_flag("--chunk", args->chunk,
                    "whisper: send long audio in pieces cut in silence, at full quality");
  command->add_option("--proxy", args->proxy, "whisper, google-cloud, youtube: proxy URL");
  command->add_option("--bucket", args->bucket, "google-cloud: Cloud Storage bucket for uploads");
  command->add_option("--alternative-language", args->alternative_languages,
                      "google-cloud: further language codes (up to 3)");
  command->add_option("--url", args->url, "prosa: service URL");
  command
      ->add_option("--polling-interval", args->polling_interval,
                   "prosa: seconds between job status queries")
      ->check(whole_number(0, 86400));
  command->add_option("--max-polls", args->max_polls, "prosa: status queries before giving up")
      ->check(whole_number(1, 1000000));
  command->add_option("--preferred-language", args->preferred_languages,
                      "youtube: transcript languages in order of preference");
  command->add_flag("--allow-non-preferred", args->allow_non_preferred,
                    "youtube: fall back to other languages");
  command->add_flag("--allow-auto-generated", args->allow_auto_generated,
                    "youtube: accept generated transcripts");
  command
      ->add_option("--fallback", args->fallback,
                   "youtube: backend that transcribes the audio of videos without acceptable "
                   "captions (its settings apply)")
      ->check(CLI::IsMember({"whisper", "gemini", "google-cloud"}));
  command->add_option("--translate-to", args->translate_to,
                      "youtube: language code of YouTube's translation of the captions, where "
                      "the video offers one");
  return {command, [command, args] { return run(*command, *args); }};
}

}  // namespace qorl_cli::commands
