#include "qorl_multimodal/batch/converter_run.hpp"

#include <optional>

#include "qorl_core/errors.hpp"
#include "qorl_multimodal/utils/segment_times.hpp"

namespace qorl_multimodal::batch::converter_run {
namespace {

using modality_converter::modality_converter::BaseModalityConverter;

// The timed events in a result's record (a video caption's metadata "segments"); none for a
// result without them.
qorl_core::Value* timed_segments(qorl_core::Value& record) {
  qorl_core::Value* metadata = record.is_map() ? record.as_map().find("metadata") : nullptr;
  if (!metadata || !metadata->is_map()) return nullptr;
  qorl_core::Value* segments = metadata->as_map().find("segments");
  return segments && segments->is_list() ? segments : nullptr;
}

boost::asio::awaitable<runner::Conversion> convert(
    std::shared_ptr<BaseModalityConverter> converter, qorl_core::Options options, std::string what,
    std::map<std::string, std::string> names,
    std::function<qorl_core::Value(const runner::ResolvedSource&)> prepare,
    runner::ResolvedSource source) {
  const qorl_core::Value media = prepare ? prepare(source) : source.media();
  source_options(source.entry, names)
      .for_each([&options](const std::string& name, const qorl_core::Value& value) {
        options.set(name, value);
      });
  const ConversionWatch watch;
  options.set("event_emitter", watch.emitter());
  std::optional<modality_converter::schema::text_result::TextResult> result;
  try {
    result = co_await converter->convert(media, options);
  } catch (const qorl_core::ValidationError&) {
    // A failed model request can leave an answer the result refuses (a video caption without
    // its summary): the request's failure is the one to report.
    if (!watch.failure()) throw;
  }
  if (!result || result->result.empty()) {
    qorl_core::throw_with_cause(nothing_generated(what), watch.failure());
  }
  runner::Conversion conversion{.record = result->to_map(), .usage = watch.usage()};
  if (qorl_core::Value* segments = timed_segments(conversion.record)) {
    auto warning = utils::segment_times::fit_to_media_file(source.entry.source, segments->as_list());
    if (warning) conversion.warnings.push_back(std::move(*warning));
  }
  co_return conversion;
}

}  // namespace

ConversionWatch::ConversionWatch() : emitter_(std::make_shared<qorl_inference::EventEmitter>()) {
  emitter_->add_handler([state = state_](const qorl_inference::Event& event) {
    if (event.type == "error" && event.error) {
      state->failure = event.error;
    } else if (event.type == "response") {
      ++state->usage.requests;
    } else if (event.type == "usage") {
      // The same fields as a stored usage; from the library's own invokers, so well formed.
      state->usage += usage::Usage::from_json(event.value);
    }
  });
}

qorl_core::Value ConversionWatch::emitter() const { return qorl_core::Value(emitter_); }

std::exception_ptr ConversionWatch::failure() const { return state_->failure; }

usage::Usage ConversionWatch::usage() const { return state_->usage; }

std::runtime_error nothing_generated(const std::string& what) {
  return std::runtime_error("no " + what + " was generated");
}

qorl_core::Options source_options(const manifest::SourceEntry& entry,
                                  const std::map<std::string, std::string>& names) {
  if (names.empty()) return entry.options;
  qorl_core::Options options;
  entry.options.for_each([&](const std::string& key, const qorl_core::Value& value) {
    const auto name = names.find(key);
    if (name == names.end()) {
      throw qorl_core::ValueError("unknown option \"" + key + "\" in " + entry.origin);
    }
    options.set(name->second, value);
  });
  return options;
}

runner::ConvertFunction converter_run(
    std::shared_ptr<BaseModalityConverter> converter, qorl_core::Options options, std::string what,
    std::map<std::string, std::string> source_option_names,
    std::function<qorl_core::Value(const runner::ResolvedSource&)> prepare) {
  return [converter, options, what, names = std::move(source_option_names),
          prepare](runner::ResolvedSource source) {
    return convert(converter, options, what, names, prepare, std::move(source));
  };
}

}  // namespace qorl_multimodal::batch::converter_run
