// Messages of a model conversation: a system message of text, and user messages whose content
// parts (texts and attachments) keep their order.
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "qorl_inference/attachment.hpp"

namespace qorl_inference {

using ContentPart = std::variant<std::string, std::shared_ptr<Attachment>>;

enum class Role { SYSTEM, USER };

struct Message {
  Role role = Role::USER;
  std::vector<ContentPart> contents;

  static Message system(std::string text);
  // ValueError for an absent (null) attachment.
  static Message user(std::vector<ContentPart> contents);
};

}  // namespace qorl_inference
