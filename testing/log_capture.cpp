#include "testing/log_capture.hpp"

#include <algorithm>

namespace qorl_testing {

void CapturingHandler::emit(const qorl_core::LogRecord& record) {
  std::lock_guard lock(mutex_);
  records_.push_back(record);
}

std::vector<qorl_core::LogRecord> CapturingHandler::records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

void CapturingHandler::clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
}

LogCapture::LogCapture() : root_(qorl_core::LoggerManager().root()) {
  saved_level_ = root_->level();
  saved_handlers_ = root_->handlers();
  root_->set_level(qorl_core::LogLevel::DEBUG);
  root_->set_handlers({handler_});
}

LogCapture::~LogCapture() {
  root_->set_handlers(saved_handlers_);
  root_->set_level(saved_level_);
}

std::vector<std::string> LogCapture::messages(const std::string& logger_name,
                                              qorl_core::LogLevel level) const {
  std::vector<std::string> out;
  for (const auto& record : records()) {
    if (!logger_name.empty() && record.logger_name != logger_name) continue;
    if (level != qorl_core::LogLevel::NOTSET && record.level != level) continue;
    out.push_back(record.message);
  }
  return out;
}

bool LogCapture::contains(const std::string& message) const {
  const auto all = messages();
  return std::find(all.begin(), all.end(), message) != all.end();
}

bool LogCapture::mentions(const std::string& text) const {
  const auto all = messages();
  return std::any_of(all.begin(), all.end(), [&](const std::string& message) {
    return message.find(text) != std::string::npos;
  });
}

}  // namespace qorl_testing
