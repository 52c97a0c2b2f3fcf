// Named loggers in a dotted hierarchy, with handlers, levels and propagation. Messages are
// either finished texts or printf-style formats whose arguments are formatted only when the
// level is enabled.
#pragma once

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "qorl_core/value.hpp"

namespace qorl_core {

enum class LogLevel { NOTSET = 0, DEBUG = 10, INFO = 20, WARNING = 30, ERROR = 40, CRITICAL = 50 };

std::string_view level_name(LogLevel level);

// printf-style formatting as the standard logging modules do it: %s writes a text as it is and
// any other value in its debug form, %d a number's integer part, %% a percent sign. ValueError
// when arguments and conversions do not match.
std::string percent_format(std::string_view format, const std::vector<Value>& args);

struct LogRecord {
  std::string logger_name;
  LogLevel level;
  std::string message;
  std::chrono::system_clock::time_point time;
};

class Handler {
 public:
  virtual ~Handler() = default;
  virtual void emit(const LogRecord& record) = 0;

  LogLevel level() const noexcept { return level_; }
  void set_level(LogLevel level) noexcept { level_ = level; }

 private:
  LogLevel level_ = LogLevel::NOTSET;
};

// Writes through spdlog to standard error.
class StderrHandler : public Handler {
 public:
  StderrHandler();
  void emit(const LogRecord& record) override;

 private:
  std::shared_ptr<void> sink_logger_;  // spdlog::logger, kept out of this header
};

class Logger {
 public:
  explicit Logger(std::string name);

  const std::string& name() const noexcept { return name_; }

  LogLevel level() const;
  void set_level(LogLevel level);
  // The first level set on this logger or an ancestor.
  LogLevel effective_level() const;
  bool is_enabled_for(LogLevel level) const;

  std::vector<std::shared_ptr<Handler>> handlers() const;
  void set_handlers(std::vector<std::shared_ptr<Handler>> handlers);
  void add_handler(std::shared_ptr<Handler> handler);
  void remove_handler(const std::shared_ptr<Handler>& handler);

  bool propagate() const;
  void set_propagate(bool propagate);

  void log(LogLevel level, std::string message);

  template <typename... Args>
  void debug(std::string_view format, const Args&... args) {
    log_formatted(LogLevel::DEBUG, format, args...);
  }
  template <typename... Args>
  void info(std::string_view format, const Args&... args) {
    log_formatted(LogLevel::INFO, format, args...);
  }
  template <typename... Args>
  void warning(std::string_view format, const Args&... args) {
    log_formatted(LogLevel::WARNING, format, args...);
  }
  template <typename... Args>
  void error(std::string_view format, const Args&... args) {
    log_formatted(LogLevel::ERROR, format, args...);
  }
  // At error level, followed by the error being handled (with its nested causes), if any.
  template <typename... Args>
  void exception(std::string_view format, const Args&... args) {
    if (!is_enabled_for(LogLevel::ERROR)) return;
    log(LogLevel::ERROR, format_message(format, args...) + active_error_trace());
  }

 private:
  template <typename... Args>
  static std::string format_message(std::string_view format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
      return std::string(format);  // a finished text: '%' stays as it is
    } else {
      // Logging never throws: a format that does not fit its arguments is logged as it is.
      std::vector<Value> values{log_argument(args)...};
      try {
        return percent_format(format, values);
      } catch (const std::exception&) {
        return std::string(format) + " " + repr(Value(List(values.begin(), values.end())));
      }
    }
  }
  template <typename... Args>
  void log_formatted(LogLevel level, std::string_view format, const Args&... args) {
    if (!is_enabled_for(level)) return;
    log(level, format_message(format, args...));
  }

  // Arguments become dynamic values: numbers and texts as such, other formattable types as
  // their text form.
  static const Value& log_argument(const Value& v) { return v; }
  template <typename T>
  static Value log_argument(const T& v) {
    if constexpr (std::is_same_v<T, bool> || std::is_arithmetic_v<T> ||
                  std::is_convertible_v<const T&, std::string_view> || std::is_same_v<T, Bytes>) {
      return Value(v);
    } else {
      return Value(fmt::format("{}", v));
    }
  }

  static std::string active_error_trace();

  std::string name_;
  mutable std::mutex mutex_;
  LogLevel level_ = LogLevel::NOTSET;
  std::vector<std::shared_ptr<Handler>> handlers_;
  bool propagate_ = true;
};

// A logger named after the concrete class of its owner. A constructor cannot see the concrete
// class, so the logger is looked up on first use; copies start afresh.
class ClassNamedLogger {
 public:
  ClassNamedLogger() = default;
  ClassNamedLogger(const ClassNamedLogger&) {}
  ClassNamedLogger& operator=(const ClassNamedLogger&) { return *this; }

  Logger& get(const std::type_info& owner_type) const;

 private:
  mutable std::once_flag once_;
  mutable std::shared_ptr<Logger> logger_;
};

// Hands out the process-wide loggers; every manager sees the same ones.
class LoggerManager {
 public:
  LoggerManager() = default;
  std::shared_ptr<Logger> get_logger(const std::string& name) const;
  // The root of the hierarchy: warning level, one standard-error handler.
  std::shared_ptr<Logger> root() const;
};

// A logger's name as a template argument: module_logger<"qorl_multimodal.utils.image_utils">.
template <std::size_t Size>
struct LoggerName {
  constexpr LoggerName(const char (&text)[Size]) { std::copy_n(text, Size, value); }
  char value[Size];
};

// A module's own logger, looked up once.
template <LoggerName Name>
Logger& module_logger() {
  static const std::shared_ptr<Logger> instance = LoggerManager().get_logger(Name.value);
  return *instance;
}

}  // namespace qorl_core
