// Events a caller can observe while a model request runs; callers pass an emitter through
// conversions to the request processor.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qorl_core/value.hpp"

namespace qorl_inference {

struct Event {
  // "response": the model's answer text; "error": why a request or a source failed (the
  // conversion may still end with an empty result), with the error itself in `error`.
  std::string type;
  std::string value;
  std::exception_ptr error{};
};

class EventEmitter : public qorl_core::Object {
 public:
  using Handler = std::function<void(const Event&)>;

  void add_handler(Handler handler);
  // Hands `event` to every handler, in the order they were added.
  void emit(const Event& event) const;
  // Emits an "error" event for `error`.
  void emit_error(const std::exception_ptr& error) const;

  // The emitter a dynamic option holds: null for none; TypeError for any other kind.
  static std::shared_ptr<EventEmitter> from_value(const qorl_core::Value& value);

  std::string type_name() const override { return "EventEmitter"; }

 private:
  mutable std::mutex mutex_;
  std::vector<Handler> handlers_;
};

}  // namespace qorl_inference
