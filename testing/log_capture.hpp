// Captures log records for assertions on exact lines.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qorl_core/logger_manager.hpp"

namespace qorl_testing {

class CapturingHandler : public qorl_core::Handler {
 public:
  void emit(const qorl_core::LogRecord& record) override;
  std::vector<qorl_core::LogRecord> records() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<qorl_core::LogRecord> records_;
};

// While alive, records everything logged at debug level and above (root level set to debug,
// the standard-error handler kept quiet); restores the root logger afterwards.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<qorl_core::LogRecord> records() const { return handler_->records(); }
  // Messages, optionally only those of one logger and/or one level.
  std::vector<std::string> messages(const std::string& logger_name = "",
                                    qorl_core::LogLevel level = qorl_core::LogLevel::NOTSET) const;
  bool contains(const std::string& message) const;
  // Whether any message holds `text` (a secret that must not be logged, say).
  bool mentions(const std::string& text) const;
  void clear() { handler_->clear(); }
  const std::shared_ptr<CapturingHandler>& handler() const { return handler_; }

 private:
  std::shared_ptr<CapturingHandler> handler_ = std::make_shared<CapturingHandler>();
  std::shared_ptr<qorl_core::Logger> root_;
  qorl_core::LogLevel saved_level_;
  std::vector<std::shared_ptr<qorl_core::Handler>> saved_handlers_;
};

}  // namespace qorl_testing
