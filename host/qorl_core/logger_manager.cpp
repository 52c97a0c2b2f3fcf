#include "qorl_core/logger_manager.hpp"

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <unordered_map>

#include "qorl_core/errors.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_core/type_name.hpp"

namespace qorl_core {
namespace {

class Registry {
 public:
  static Registry& instance() {
    static Registry registry;
    return registry;
  }

  std::shared_ptr<Logger> get(const std::string& name) {
    if (name.empty()) return root_;
    std::lock_guard lock(mutex_);
    auto& slot = loggers_[name];
    if (!slot) slot = std::make_shared<Logger>(name);
    return slot;
  }

  // The nearest existing ancestor of a dotted name, or the root.
  std::shared_ptr<Logger> parent_of(const std::string& name) {
    if (name.empty()) return nullptr;
    std::lock_guard lock(mutex_);
    std::string prefix = name;
    for (auto dot = prefix.rfind('.'); dot != std::string::npos; dot = prefix.rfind('.')) {
      prefix.erase(dot);
      if (auto it = loggers_.find(prefix); it != loggers_.end()) return it->second;
    }
    return root_;
  }

  const std::shared_ptr<Logger>& root() const { return root_; }

 private:
  Registry() : root_(std::make_shared<Logger>("")) {
    root_->set_level(level_from_environment());
    root_->add_handler(std::make_shared<StderrHandler>());
  }

  static LogLevel level_from_environment() {
    const char* text = std::getenv("QORL_LOG_LEVEL");
    const std::string level = text ? text : "";
    if (level == "DEBUG") return LogLevel::DEBUG;
    if (level == "INFO") return LogLevel::INFO;
    if (level == "ERROR") return LogLevel::ERROR;
    if (level == "CRITICAL") return LogLevel::CRITICAL;
    return LogLevel::WARNING;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<Logger>> loggers_;
  std::shared_ptr<Logger> root_;
};

spdlog::level::level_enum to_spdlog(LogLevel level) {
  switch (level) {
    case LogLevel::NOTSET:
    case LogLevel::DEBUG: return spdlog::level::debug;
    case LogLevel::INFO: return spdlog::level::info;
    case LogLevel::WARNING: return spdlog::level::warn;
    case LogLevel::ERROR: return spdlog::level::err;
    case LogLevel::CRITICAL: return spdlog::level::critical;
  }
  return spdlog::level::info;
}

}  // namespace

std::string percent_format(std::string_view format, const std::vector<Value>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (++i == format.size()) throw ValueError("incomplete format");
    const char conversion = format[i];
    if (conversion == '%') {
      out += '%';
      continue;
    }
    if (next == args.size()) throw ValueError("not enough arguments for format string");
    const Value& arg = args[next++];
    if (conversion == 's') {
      out += arg.is_string() ? arg.as_string() : repr(arg);
    } else if ((conversion == 'd' || conversion == 'i') && arg.is_number() && !arg.is_bool()) {
      out +=
          std::to_string(arg.is_int() ? arg.as_int() : static_cast<std::int64_t>(arg.as_double()));
    } else {
      throw ValueError(std::string("unsupported format character '") + conversion + "'");
    }
  }
  if (next != args.size()) throw ValueError("not all arguments converted during string formatting");
  return out;
}

std::string_view level_name(LogLevel level) {
  switch (level) {
    case LogLevel::NOTSET: return "NOTSET";
    case LogLevel::DEBUG: return "DEBUG";
    case LogLevel::INFO: return "INFO";
    case LogLevel::WARNING: return "WARNING";
    case LogLevel::ERROR: return "ERROR";
    case LogLevel::CRITICAL: return "CRITICAL";
  }
  return "NOTSET";
}

StderrHandler::StderrHandler() {
  auto sink = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
  auto logger = std::make_shared<spdlog::logger>("qorl", std::move(sink));
  logger->set_level(spdlog::level::trace);
  logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %^%l%$ %v");
  sink_logger_ = std::move(logger);
}

void StderrHandler::emit(const LogRecord& record) {
  auto logger = std::static_pointer_cast<spdlog::logger>(sink_logger_);
  logger->log(to_spdlog(record.level), "{}: {}",
              record.logger_name.empty() ? "root" : record.logger_name, record.message);
}

Logger::Logger(std::string name) : name_(std::move(name)) {}

LogLevel Logger::level() const {
  std::lock_guard lock(mutex_);
  return level_;
}

void Logger::set_level(LogLevel level) {
  std::lock_guard lock(mutex_);
  level_ = level;
}

LogLevel Logger::effective_level() const {
  if (auto own = level(); own != LogLevel::NOTSET) return own;
  for (auto parent = Registry::instance().parent_of(name_); parent;
       parent = Registry::instance().parent_of(parent->name())) {
    if (auto level = parent->level(); level != LogLevel::NOTSET) return level;
  }
  return LogLevel::NOTSET;
}

bool Logger::is_enabled_for(LogLevel level) const {
  return static_cast<int>(level) >= static_cast<int>(effective_level());
}

std::vector<std::shared_ptr<Handler>> Logger::handlers() const {
  std::lock_guard lock(mutex_);
  return handlers_;
}

void Logger::set_handlers(std::vector<std::shared_ptr<Handler>> handlers) {
  std::lock_guard lock(mutex_);
  handlers_ = std::move(handlers);
}

void Logger::add_handler(std::shared_ptr<Handler> handler) {
  std::lock_guard lock(mutex_);
  if (std::find(handlers_.begin(), handlers_.end(), handler) == handlers_.end()) {
    handlers_.push_back(std::move(handler));
  }
}

void Logger::remove_handler(const std::shared_ptr<Handler>& handler) {
  std::lock_guard lock(mutex_);
  handlers_.erase(std::remove(handlers_.begin(), handlers_.end(), handler), handlers_.end());
}

bool Logger::propagate() const {
  std::lock_guard lock(mutex_);
  return propagate_;
}

void Logger::set_propagate(bool propagate) {
  std::lock_guard lock(mutex_);
  propagate_ = propagate;
}

void Logger::log(LogLevel level, std::string message) {
  if (!is_enabled_for(level)) return;
  // Every line, whoever wrote it, leaves without secrets or payloads.
  const LogRecord record{name_, level, redaction::redact_text(message),
                         std::chrono::system_clock::now()};
  // Like the standard hierarchy: this logger's handlers, then each ancestor's while propagating.
  const Logger* current = this;
  std::shared_ptr<Logger> holder;
  while (current) {
    for (const auto& handler : current->handlers()) {
      if (static_cast<int>(level) >= static_cast<int>(handler->level())) handler->emit(record);
    }
    if (!current->propagate()) break;
    holder = Registry::instance().parent_of(current->name());
    current = holder.get();
  }
}

std::string Logger::active_error_trace() {
  auto error = std::current_exception();
  if (!error) return "";
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return "\n" + describe(e);
  } catch (...) {
    return "\nunknown error";
  }
}

std::shared_ptr<Logger> LoggerManager::get_logger(const std::string& name) const {
  return Registry::instance().get(name);
}

Logger& ClassNamedLogger::get(const std::type_info& owner_type) const {
  std::call_once(once_,
                 [&] { logger_ = LoggerManager().get_logger(simple_type_name(owner_type)); });
  return *logger_;
}

std::shared_ptr<Logger> LoggerManager::root() const { return Registry::instance().root(); }

}  // namespace qorl_core
