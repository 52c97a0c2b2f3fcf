// Output parsers turn a model's answer text into a value.
#pragma once

#include <string>

#include "qorl_core/value.hpp"

namespace qorl_inference {

class BaseOutputParser {
 public:
  virtual ~BaseOutputParser() = default;
  virtual qorl_core::Value parse(const std::string& text) const = 0;
};

// Finds the JSON in an answer: the whole answer, a fenced code block ("```json ... ```"), or the
// span from the first opening brace or bracket to the last matching closing one.
// ValueError when no JSON can be read.
class JSONOutputParser : public BaseOutputParser {
 public:
  qorl_core::Value parse(const std::string& text) const override;
};

}  // namespace qorl_inference
