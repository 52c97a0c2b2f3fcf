#include "cli/batch_mode.hpp"

#include <map>
#include <string>
#include <vector>

#include "qorl_inference/gemini_batch.hpp"

namespace qorl_cli {

BatchModeScope::BatchModeScope(const BatchSettings& settings, boost::asio::any_io_executor executor,
                               const qorl_multimodal::batch::store::Store* store) {
  qorl_inference::GeminiBatcherOptions defaults;
  defaults.detach = settings.mode == BatchSettings::Mode::detached;
  defaults.polling.initial_interval = settings.first_poll;
  defaults.polling.deadline = settings.deadline;
  registry_ = std::make_shared<qorl_inference::GeminiBatchRegistry>(std::move(executor), defaults);
  if (store != nullptr) {
    std::map<std::string, std::vector<std::string>> jobs;
    for (const auto& row : store->unfinished_batch_rows()) {
      if (row.batch_request) jobs[*row.batch_name].push_back(*row.batch_request);
    }
    for (const auto& [name, keys] : jobs) registry_->resume(name, keys);
  }
  qorl_inference::set_default_gemini_batching(registry_);
}

BatchModeScope::~BatchModeScope() { qorl_inference::set_default_gemini_batching(nullptr); }

}  // namespace qorl_cli
