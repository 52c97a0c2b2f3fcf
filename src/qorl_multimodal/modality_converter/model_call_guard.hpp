// The guard around the model request of an LM-based converter: a failed request gives a fallback
// result, one debug line and an "error" event instead of an error; cancellation still propagates.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <exception>
#include <memory>
#include <string>

#include "qorl_core/errors.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_inference/event_emitter.hpp"

namespace qorl_multimodal::modality_converter::model_call_guard {

// Awaits `request()`. An ordinary error is logged at debug level as `failure_message` followed
// by the error's message, emitted on `watcher` (when there is one) so that whoever watches the
// conversion learns why its result is empty, and `fallback` is returned. `logger` is the awaiting
// converter's own, alive as long as the converter is.
//
// Bind the result to a named local before awaiting it (GCC 12 mishandles temporaries in a
// co_await expression):
//   auto guarded = guard_model_call<T>(logger, "Failed: ", watcher, [&]() -> awaitable<T> {...});
//   co_return co_await std::move(guarded);
template <typename T, typename Request>
boost::asio::awaitable<T> guard_model_call(qorl_core::Logger& logger, std::string failure_message,
                                           std::shared_ptr<qorl_inference::EventEmitter> watcher,
                                           Request request, T fallback = T{}) {
  try {
    co_return co_await request();
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error)) throw;
    logger.debug(failure_message + error.what());
    if (watcher) watcher->emit_error(std::current_exception());
  }
  co_return fallback;
}

}  // namespace qorl_multimodal::modality_converter::model_call_guard
