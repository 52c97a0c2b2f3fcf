#include "cli/log_capture.hpp"

#include <unistd.h>

#include <algorithm>
#include <initializer_list>

#include "cli/output.hpp"
#include "qorl_core/text.hpp"

namespace qorl_cli::log_capture {
namespace {

thread_local Capture* active = nullptr;

class CaptureHandler : public qorl_core::Handler {
 public:
  void emit(const qorl_core::LogRecord& record) override {
    if (active) active->add(record);
  }
};

bool mentions(const std::string& text, std::initializer_list<const char*> words) {
  return std::any_of(words.begin(), words.end(),
                     [&](const char* word) { return text.find(word) != std::string::npos; });
}

// A failure of a step that took the source up, not one of the many lines that only find the
// source is not of some kind (base64, a file path, an S3 or Drive location), nor the summary.
bool reports_failure(const std::string& message) {
  const std::string text = qorl_core::ascii_lower(message);
  return mentions(text, {"fail", "error", "status code", "denied", "refused", "timed out"}) &&
         !mentions(text,
                   {"base64", "file path", "s3 url", "google drive", "binary data from source"});
}

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
    handler->set_level(shown.value_or(
        static_cast<qorl_core::LogLevel>(static_cast<int>(qorl_core::LogLevel::CRITICAL) + 1)));
    handlers.push_back(std::move(handler));
  }
  handlers.push_back(std::make_shared<CaptureHandler>());
  root->set_handlers(std::move(handlers));
  root->set_level(qorl_core::LogLevel::DEBUG);
}

Capture::Capture() : outer_(active) { active = this; }

Capture::~Capture() { active = outer_; }

std::string Capture::cause() const {
  // A path that names a pipe or a device is the source itself, refused: that is the reason.
  const auto refused_path = std::find_if(records_.begin(), records_.end(), [](const auto& record) {
    return qorl_core::ascii_lower(record.message).find("not a regular file") != std::string::npos;
  });
  if (refused_path != records_.end()) return refused_path->message;
  const auto failure = std::find_if(records_.begin(), records_.end(), [](const auto& record) {
    return reports_failure(record.message);
  });
  const std::string failed_step = failure != records_.end() ? failure->message : "";
  const auto last_warning =
      std::find_if(records_.rbegin(), records_.rend(),
                   [](const auto& record) { return record.level >= qorl_core::LogLevel::WARNING; });
  if (last_warning == records_.rend()) return failed_step;
  // What a converter says of a failure often leaves out the step that failed (a download's
  // HTTP status).
  std::string cause = last_warning->message;
  if (!failed_step.empty() && cause.find(failed_step) == std::string::npos) {
    cause += ": " + failed_step;
  }
  return cause;
}

}  // namespace qorl_cli::log_capture
