// --batch and --batch-detach: a run's Gemini requests go through the batch mode, at half the
// price, answered within hours. Detached, a run submits and ends; the next run with the same
// store collects what has finished and submits what is new.
#pragma once

#include <boost/asio/any_io_executor.hpp>

#include <chrono>
#include <memory>

#include "qorl_multimodal/batch/store.hpp"

namespace qorl_inference {
class GeminiBatchRegistry;
}  // namespace qorl_inference

namespace qorl_cli {

struct BatchSettings {
  enum class Mode { off, attached, detached };
  Mode mode = Mode::off;
  std::chrono::milliseconds first_poll{std::chrono::seconds(10)};
  std::chrono::hours deadline{24};
};

// The run's batching, while it lives: every Gemini invoker sends through it, and the batch jobs
// the store remembers are resumed instead of submitted again.
class BatchModeScope {
 public:
  BatchModeScope(const BatchSettings& settings, boost::asio::any_io_executor executor,
                 qorl_multimodal::batch::store::Store* store);
  ~BatchModeScope();
  BatchModeScope(const BatchModeScope&) = delete;
  BatchModeScope& operator=(const BatchModeScope&) = delete;

 private:
  std::shared_ptr<qorl_inference::GeminiBatchRegistry> registry_;
};

}  // namespace qorl_cli
