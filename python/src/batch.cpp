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
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/image_to_caption.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/image_to_mermaid.hpp"
#include "qorl_multimodal/modality_converter/preset_options.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/video_to_caption.hpp"

namespace qorl_python {
namespace {

namespace batch = qorl_multimodal::batch;
namespace mc = qorl_multimodal::modality_converter;
using mc::modality_converter::BaseModalityConverter;

// The command's subcommand for a converter, so that both key its results alike: its name, what
// it makes, and the model the command uses by default.
struct Subcommand {
  std::string name;
  std::string what;
  std::string default_model;
};

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
  throw qorl_core::TypeError(
      "batch runs take an image captioner, a Mermaid converter or a video "
      "captioner");
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

py::object start_run(std::shared_ptr<BaseModalityConverter> converter, py::iterable sources,
                     py::object deliver, std::optional<std::string> store, std::size_t jobs,
                     bool retry_failed, bool refresh, std::optional<std::string> model,
                     std::optional<KnownOutcomes> known, const py::kwargs& options) {
  if (!converter) throw qorl_core::TypeError("converter must not be None");
  const Subcommand subcommand = subcommand_of(*converter);
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
  const qorl_core::Options converter_options = to_options(options);
  run_options.request = {.subcommand = subcommand.name,
                         .model = model.value_or(subcommand.default_model),
                         .options = converter_options};
  auto operation = [run, converter, converter_options, what = subcommand.what, run_options] {
    return batch::runner::run(
        batch::runner::stream_of(run->entries),
        batch::converter_run::converter_run(converter, converter_options, what),
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
             py::arg("model") = py::none(), py::arg("known") = py::none());
}

}  // namespace qorl_python
