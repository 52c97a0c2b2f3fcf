// Pipeline components: a run entry that hands named inputs to the component's `_run` and
// reports the run through two event texts.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <string>
#include <utility>

#include "qorl_core/logger_manager.hpp"
#include "qorl_core/type_name.hpp"
#include "qorl_core/value.hpp"

namespace qorl_core {

template <typename Output>
class Component {
 public:
  virtual ~Component() = default;

  // Awaits `_run` with exactly these inputs and returns its result unchanged. The event texts
  // go to the component's logger at debug level.
  boost::asio::awaitable<Output> run(Options inputs) {
    auto logger = LoggerManager().get_logger(simple_type_name(typeid(*this)));
    if (logger->is_enabled_for(LogLevel::DEBUG)) logger->debug(_format_input_event(inputs));
    Output output = co_await _run(std::move(inputs));
    if (logger->is_enabled_for(LogLevel::DEBUG)) logger->debug(_format_output_event(output));
    co_return output;
  }

 protected:
  virtual boost::asio::awaitable<Output> _run(Options inputs) = 0;

  virtual std::string _format_input_event(const Options& input_dict) const {
    return "[Start " + repr(simple_type_name(typeid(*this))) +
           "] Running with: " + repr(Value(input_dict));
  }
  virtual std::string _format_output_event(const Output&) const {
    return "[Finished " + repr(simple_type_name(typeid(*this))) + "] Completed";
  }
};

}  // namespace qorl_core
