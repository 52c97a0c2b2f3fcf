#include "cli/log_display.hpp"

#include <unistd.h>

#include "cli/output.hpp"

namespace qorl_cli::log_display {
namespace {

// Shows records with their control characters escaped, for a terminal.
class EscapingHandler : public qorl_core::Handler {
 public:
  explicit EscapingHandler(std::shared_ptr<qorl_core::Handler> shown) : shown_(std::move(shown)) {}
  void emit(const qorl_core::LogRecord& record) override {
    qorl_core::LogRecord escaped = record;
    escaped.message = output::escape_controls(record.message);
    shown_->emit(escaped);
  }

 private:
  std::shared_ptr<qorl_core::Handler> shown_;
};

}  // namespace

void install(std::optional<qorl_core::LogLevel> shown) {
  auto root = qorl_core::LoggerManager().root();
  std::vector<std::shared_ptr<qorl_core::Handler>> handlers;
  for (auto handler : root->handlers()) {
    if (::isatty(STDERR_FILENO) == 1) handler = std::make_shared<EscapingHandler>(handler);
    handlers.push_back(std::move(handler));
  }
  root->set_handlers(std::move(handlers));
  if (shown) {
    root->set_level(*shown);
  } else {
    root->set_level(
        static_cast<qorl_core::LogLevel>(static_cast<int>(qorl_core::LogLevel::CRITICAL) + 1));
  }
}

}  // namespace qorl_cli::log_display
