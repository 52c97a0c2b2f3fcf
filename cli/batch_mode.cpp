#include "cli/batch_mode.hpp"

#include <string>
#include <vector>

#include "qorl_inference/gemini_batch.hpp"

namespace qorl_cli {

BatchModeScope::BatchModeScope(const BatchSettings& settings, boost::asio::any_io_executor executor,
                               qorl_multimodal::batch::store::Store* store) {
  qorl_inference::GeminiBatcherOptions defaults;
  defaults.detach = settings.mode == BatchSettings::Mode::detached;
  defaults.polling.initial_interval = settings.first_poll;
  defaults.polling.deadline = settings.deadline;
  if (store != nullptr) {
    // Kept as soon as submitted: a run killed before its batch finished is collected by the next.
    defaults.on_submitted = [store](const std::string& name, const std::vector<std::string>& keys) {
      store->add_batch_job(name, keys);
    };
    defaults.on_cancelled = [store](const std::string& name) { store->remove_batch_job(name); };
  }
  registry_ = std::make_shared<qorl_inference::GeminiBatchRegistry>(std::move(executor), defaults);
  if (store != nullptr) {
    for (const auto& [name, keys] : store->batch_jobs()) registry_->resume(name, keys);
  }
  qorl_inference::set_default_gemini_batching(registry_);
}

BatchModeScope::~BatchModeScope() { qorl_inference::set_default_gemini_batching(nullptr); }

}  // namespace qorl_cli
