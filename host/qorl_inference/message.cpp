#include "qorl_inference/message.hpp"

#include "qorl_core/errors.hpp"

namespace qorl_inference {

Message Message::system(std::string text) { return Message{Role::SYSTEM, {std::move(text)}}; }

Message Message::user(std::vector<ContentPart> contents) {
  for (const auto& part : contents) {
    if (const auto* attachment = std::get_if<std::shared_ptr<Attachment>>(&part);
        attachment && !*attachment) {
      throw qorl_core::ValueError("A user message cannot hold an absent attachment");
    }
  }
  return Message{Role::USER, std::move(contents)};
}

}  // namespace qorl_inference
