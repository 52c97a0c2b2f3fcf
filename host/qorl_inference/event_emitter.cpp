#include "qorl_inference/event_emitter.hpp"

#include "qorl_core/errors.hpp"

namespace qorl_inference {

void EventEmitter::add_handler(Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_.push_back(std::move(handler));
}

void EventEmitter::emit(const Event& event) const {
  std::vector<Handler> handlers;
  {
    std::lock_guard lock(mutex_);
    handlers = handlers_;
  }
  for (const auto& handler : handlers) handler(event);
}

void EventEmitter::emit_error(const std::exception_ptr& error) const {
  emit({"error", qorl_core::describe(error), error});
}

std::shared_ptr<EventEmitter> EventEmitter::from_value(const qorl_core::Value& value) {
  if (value.is_none()) return nullptr;
  if (auto emitter = value.object_as<EventEmitter>()) return emitter;
  throw qorl_core::TypeError("event_emitter must be an EventEmitter or None, not " +
                             value.type_name());
}

}  // namespace qorl_inference
