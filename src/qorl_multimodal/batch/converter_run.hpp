// A modality converter as a corpus run's conversion, shared by the command and the Python module.
#pragma once

#include <exception>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "qorl_inference/event_emitter.hpp"
#include "qorl_multimodal/batch/runner.hpp"
#include "qorl_multimodal/batch/usage.hpp"
#include "qorl_multimodal/modality_converter/modality_converter.hpp"

namespace qorl_multimodal::batch::converter_run {

// What the converters of one conversion report through its event emitter: the last failure
// (converters may answer one with an empty result) and the usage of its model calls. Copies
// share one watch.
class ConversionWatch {
 public:
  ConversionWatch();
  // The emitter, as converters take it in their "event_emitter" option.
  qorl_core::Value emitter() const;
  const std::shared_ptr<qorl_inference::EventEmitter>& event_emitter() const noexcept {
    return emitter_;
  }
  std::exception_ptr failure() const;
  // The tokens the services reported and the model calls answered.
  usage::Usage usage() const;

 private:
  struct State {
    std::exception_ptr failure;
    usage::Usage usage;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::shared_ptr<qorl_inference::EventEmitter> emitter_;
};

// "no <what> was generated": a conversion that ended without a result.
std::runtime_error nothing_generated(const std::string& what);

// Options of one source from a manifest, renamed by `names` (manifest key -> converter option);
// with no names, taken as they are. A key `names` does not list is refused with ValueError.
qorl_core::Options source_options(const manifest::SourceEntry& entry,
                                  const std::map<std::string, std::string>& names);

// Converts each source with `converter`: `options`, each source's own over them (see
// source_options), and the conversion's watch as "event_emitter". An empty result fails with
// "no <what> was generated" and the failure the converter reported nested in it. `prepare`, when
// given, checks the source first (a path that plainly names no file, say).
runner::ConvertFunction converter_run(
    std::shared_ptr<modality_converter::modality_converter::BaseModalityConverter> converter,
    qorl_core::Options options, std::string what,
    std::map<std::string, std::string> source_option_names = {},
    std::function<qorl_core::Value(const runner::ResolvedSource&)> prepare = {});

}  // namespace qorl_multimodal::batch::converter_run
