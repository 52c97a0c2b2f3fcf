// qorl_multimodal.batch: corpus runs of a converter over many sources, with the command's store.
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "python/src/bindings.hpp"
#include "python/src/event_loop.hpp"
#include "python/src/values.hpp"
#include "qorl_multimodal/batch/converter_run.hpp"
#include "qorl_multimodal/batch/runner.hpp"
#include "qorl_multimodal/batch/store.hpp"
#include "qorl_multimodal/batch/transcription_run.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/gemini_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/google_cloud_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/prosa_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/youtube_transcript_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/image_to_caption.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/image_to_mermaid.hpp"
#include "qorl_multimodal/modality_converter/preset_options.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/video_to_caption.hpp"

namespace qorl_python {
namespace {

namespace batch = qorl_multimodal::batch;
namespace mc = qorl_multimodal::modality_converter;
using mc::audio_to_text::audio_to_text::BaseAudioToText;
using mc::modality_converter::BaseModalityConverter;

// The command's subcommand for a converter, so that both key its results alike: its name, what
// it makes, and the model the command uses by default.
struct Subcommand {
  std::string name;
  std::string what;
  std::string default_model;
};

[[noreturn]] void refuse_converter() {
  throw qorl_core::TypeError(
      "batch runs take an image captioner, a Mermaid converter, a video captioner or a "
      "transcription backend");
}

Subcommand subcommand_of(const BaseModalityConverter& converter) {
  namespace presets = mc::preset_options;
  if (dynamic_cast<
          const mc::image_to_text::image_to_caption::image_to_caption::BaseImageToCaption*>(
          &converter)) {
    return {"caption", "caption",
            presets::model_id_from_environment("DEFAULT_IMAGE_CAPTIONING_MODEL_ID")};
  }
  if (dynamic_cast<
          const mc::image_to_text::image_to_mermaid::image_to_mermaid::BaseImageToMermaid*>(
          &converter)) {
    return {"mermaid", "Mermaid code", std::string(presets::DEFAULT_MODEL_ID)};
  }
  if (dynamic_cast<
          const mc::video_to_text::video_to_caption::video_to_caption::BaseVideoToCaption*>(
          &converter)) {
    return {"video", "video caption",
            presets::model_id_from_environment("DEFAULT_VIDEO_CAPTIONING_MODEL_ID")};
  }
  refuse_converter();
}

// What a backend's transcripts depend on, named as the command's transcribe keys them: its
// backend, its model and the settings it was given (a setting at its default is keyed as the
// command keys it when it is not given).
batch::cache_key::Request transcription_request(const BaseAudioToText& backend) {
  namespace att = mc::audio_to_text;
  batch::cache_key::Request request{.subcommand = "transcribe"};
  qorl_core::Options& settings = request.options;
  const auto model_unless = [&request](const std::string& model, const std::string& fallback) {
    if (model != fallback) request.model = model;
  };
  const auto set_list = [&settings](const char* name, const std::vector<std::string>& values) {
    if (!values.empty()) settings.set(name, qorl_core::List(values.begin(), values.end()));
  };
  if (auto* whisper =
          dynamic_cast<const att::openai_whisper_audio_to_text::OpenAIWhisperAudioToText*>(
              &backend)) {
    request.backend = "whisper";
    model_unless(whisper->model,
                 att::openai_whisper_audio_to_text::OpenAIWhisperAudioToText::Params{}.model);
    if (whisper->language) settings.set("language", *whisper->language);
    if (whisper->prompt) settings.set("prompt", *whisper->prompt);
    if (whisper->temperature != 0.0) settings.set("temperature", whisper->temperature);
    if (whisper->chunk_long_audio) settings.set("chunk", true);
  } else if (auto* google =
                 dynamic_cast<const att::google_cloud_audio_to_text::GoogleCloudAudioToText*>(
                     &backend)) {
    request.backend = "google-cloud";
    const att::google_cloud_audio_to_text::GoogleCloudAudioToText::Params defaults;
    model_unless(google->model, defaults.model);
    if (google->language_code != defaults.language_code)
      settings.set("language", google->language_code);
    set_list("alternative_languages", google->alternative_language_codes);
  } else if (auto* prosa =
                 dynamic_cast<const att::prosa_audio_to_text::ProsaAudioToText*>(&backend)) {
    request.backend = "prosa";
    const att::prosa_audio_to_text::ProsaAudioToText::Params defaults;
    model_unless(prosa->model, defaults.model);
    if (prosa->url != defaults.url) settings.set("url", prosa->url);
  } else if (auto* youtube = dynamic_cast<
                 const att::youtube_transcript_audio_to_text::YouTubeTranscriptAudioToText*>(
                 &backend)) {
    request.backend = "youtube";
    set_list("preferred_languages", youtube->preferred_lang_ids);
    if (youtube->allow_non_preferred_lang_ids) settings.set("allow_non_preferred", true);
    if (youtube->allow_auto_generated_transcripts) settings.set("allow_auto_generated", true);
    if (youtube->translate_to) settings.set("translate_to", *youtube->translate_to);
    if (youtube->fallback_backend) {
      // Keyed as the command's --fallback: the fallback's name, its model and its settings.
      batch::cache_key::Request fallback = transcription_request(*youtube->fallback_backend);
      settings.set("fallback", fallback.backend);
      request.model = std::move(fallback.model);
      fallback.options.for_each(
          [&settings](const std::string& name, const qorl_core::Value& value) {
            settings.set(name, value);
          });
    }
  } else if (auto* gemini =
                 dynamic_cast<const att::gemini_audio_to_text::GeminiAudioToText*>(&backend)) {
    request.backend = "gemini";
    model_unless(gemini->model, att::gemini_audio_to_text::GeminiAudioToText::Params{}.model);
  } else {
    throw qorl_core::TypeError("batch runs take the library's own transcription backends");
  }
  return request;
}

// How a run converts each source, and the request its keys are made from.
struct Plan {
  batch::runner::ConvertFunction convert;
  batch::cache_key::Request request;
};

Plan plan_of(py::handle converter, const std::optional<std::string>& model,
             const qorl_core::Options& options) {
  if (converter.is_none()) throw qorl_core::TypeError("converter must not be None");
  if (py::isinstance<BaseAudioToText>(converter)) {
    if (!options.empty()) {
      throw qorl_core::TypeError("a transcription backend takes its settings when it is built");
    }
    auto backend = converter.cast<std::shared_ptr<BaseAudioToText>>();
    batch::cache_key::Request request = transcription_request(*backend);
    if (model) request.model = *model;
    std::string fallback_name = request.options.get("fallback", "fallback").as_string();
    return {[backend, fallback_name](batch::runner::ResolvedSource source) {
              return batch::transcription_run::transcribe(backend, std::move(source),
                                                          fallback_name);
            },
            std::move(request)};
  }
  if (!py::isinstance<BaseModalityConverter>(converter)) refuse_converter();
  auto modality_converter = converter.cast<std::shared_ptr<BaseModalityConverter>>();
  const Subcommand subcommand = subcommand_of(*modality_converter);
  return {batch::converter_run::converter_run(modality_converter, options, subcommand.what),
          {.subcommand = subcommand.name,
           .model = model.value_or(subcommand.default_model),
           .options = options}};
}

// A source: its text, or a dict {"source": ..., "id": ..., option: value, ...}.
batch::manifest::SourceEntry source_entry(py::handle item, std::size_t index) {
  const std::string origin = "sources[" + std::to_string(index) + "]";
  if (py::isinstance<py::str>(item)) {
    return {.source = item.cast<std::string>(), .origin = origin, .index = index};
  }
  if (!py::isinstance<py::dict>(item)) {
    throw qorl_core::TypeError(origin + " must be a str or a dict, not " +
                               std::string(py::str(item.get_type().attr("__name__"))));
  }
  qorl_core::Options fields = to_value(item).as_map();
  const qorl_core::Value source = fields.get("source", {});
  if (!source.is_string() || source.as_string().empty()) {
    throw qorl_core::ValueError(origin + " has no text \"source\"");
  }
  batch::manifest::SourceEntry entry{
      .source = source.as_string(), .origin = origin, .index = index};
  if (const qorl_core::Value id = fields.get("id", {}); !id.is_none()) {
    entry.id = id.is_string() ? id.as_string() : qorl_core::repr(id);
  }
  fields.erase("source");
  fields.erase("id");
  entry.options = std::move(fields);
  return entry;
}

py::dict result_to_python(const batch::runner::Result& result) {
  py::dict out;
  out["source"] = result.entry.source;
  out["id"] = result.entry.id ? py::object(py::str(*result.entry.id)) : py::none();
  out["status"] = std::string(batch::runner::status_name(result.status));
  out["cached"] = result.status == batch::runner::Status::cached;
  out["key"] = result.key ? py::object(py::str(*result.key)) : py::none();
  out["result"] = to_python(result.record);
  out["error"] = result.error ? py::object(py::str(*result.error)) : py::none();
  out["error_kind"] = result.error_kind ? py::object(py::str(*result.error_kind)) : py::none();
  out["quota_exhausted"] = result.quota_exhausted;
  out["via"] = result.via.empty() ? py::object(py::none()) : py::object(py::str(result.via));
  out["warnings"] = result.warnings;
  // The fields the store and the command's --json give usage.
  out["usage"] = py::module_::import("json").attr("loads")(result.usage.to_json());
  return out;
}

// The outcomes a store elsewhere holds, by key, converted once for every run that consults them:
// "done" is reported cached, "failed" skipped.
struct KnownOutcomes {
  struct Table {
    std::unordered_map<std::string, batch::runner::Status> by_key;
    std::optional<batch::runner::Status> status_of(const std::string& key) const {
      if (auto found = by_key.find(key); found != by_key.end()) return found->second;
      return std::nullopt;
    }
  };
  std::shared_ptr<const Table> outcomes;

  explicit KnownOutcomes(const py::dict& known) {
    auto table = std::make_shared<Table>();
    for (auto [key, status] : known) {
      table->by_key[key.cast<std::string>()] = status.cast<std::string>() == "done"
                                                   ? batch::runner::Status::cached
                                                   : batch::runner::Status::skipped;
    }
    outcomes = std::move(table);
  }
};

// Everything one run holds while the library loop works on it.
struct BatchRun {
  std::vector<batch::manifest::SourceEntry> entries;
  std::optional<batch::store::Store> store;
  std::shared_ptr<detail::PythonRef> deliver;
};

py::object start_run(py::handle converter, py::iterable sources, py::object deliver,
                     std::optional<std::string> store, std::size_t jobs, bool retry_failed,
                     bool refresh, std::optional<std::string> model,
                     std::optional<KnownOutcomes> known, std::optional<std::string> gemini_batch,
                     const py::kwargs& options) {
  Plan plan = plan_of(converter, model, to_options(options));
  auto run = std::make_shared<BatchRun>();
  for (py::handle item : sources) run->entries.push_back(source_entry(item, run->entries.size()));
  if (store) run->store = batch::store::Store::open(*store);
  run->deliver = std::make_shared<detail::PythonRef>(std::move(deliver));

  batch::runner::RunOptions run_options;
  run_options.jobs = jobs;
  run_options.store = run->store ? &*run->store : nullptr;
  run_options.redo = refresh        ? batch::store::Redo::everything
                     : retry_failed ? batch::store::Redo::failed
                                    : batch::store::Redo::nothing;
  if (known) {
    run_options.known_outcome = [outcomes = known->outcomes](const std::string& key) {
      return outcomes->status_of(key);
    };
  }
  if (gemini_batch) {
    if (*gemini_batch != "wait" && *gemini_batch != "detach") {
      throw qorl_core::ValueError("gemini_batch must be \"wait\" or \"detach\", not " +
                                  qorl_core::repr(*gemini_batch));
    }
    qorl_inference::GeminiBatcherOptions batching;
    batching.detach = *gemini_batch == "detach";
    run_options.gemini_batch = std::move(batching);
  }
  run_options.request = std::move(plan.request);
  auto operation = [run, convert = std::move(plan.convert), run_options] {
    return batch::runner::run(
        batch::runner::stream_of(run->entries), convert,
        [run](const batch::runner::Result& result) {
          py::gil_scoped_acquire gil;
          run->deliver->get()(result_to_python(result));
        },
        run_options);
  };
  return start_operation(std::move(operation), [run](batch::usage::RunSummary summary) {
    py::dict out;
    out["done"] = summary.done;
    out["from_store"] = summary.from_store;
    out["failed"] = summary.failed;
    out["skipped"] = summary.skipped;
    out["pending"] = summary.pending;
    out["summary"] = batch::usage::format_summary(summary);
    return out;
  });
}

}  // namespace

void bind_batch(py::module_& module) {
  py::class_<KnownOutcomes>(module, "_KnownOutcomes")
      .def(py::init<const py::dict&>(), py::arg("known"));
  module.def("_batch_run", &start_run, py::arg("converter"), py::arg("sources"), py::arg("deliver"),
             py::kw_only(), py::arg("store") = py::none(), py::arg("jobs") = 8,
             py::arg("retry_failed") = false, py::arg("refresh") = false,
             py::arg("model") = py::none(), py::arg("known") = py::none(),
             py::arg("gemini_batch") = py::none());
}

}  // namespace qorl_python
