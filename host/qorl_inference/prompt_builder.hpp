// Prompt templates: names in single braces are variables ("{language}"), doubled braces are
// literal braces ("{{" gives "{"). Texts are inserted as they are, other values as JSON
// (numbers as numbers, maps and lists as JSON objects and arrays).
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "qorl_core/errors.hpp"
#include "qorl_core/value.hpp"
#include "qorl_inference/attachment.hpp"
#include "qorl_inference/message.hpp"

namespace qorl_inference {

// A template names a variable the caller gave no value for.
class MissingPromptVariableError : public qorl_core::KeyError {
 public:
  explicit MissingPromptVariableError(std::vector<std::string> names);
  const std::vector<std::string>& names() const noexcept { return names_; }

 private:
  std::vector<std::string> names_;
};

class PromptBuilder {
 public:
  // ValueError for a malformed template (a lone brace, a placeholder that is not a name).
  PromptBuilder(std::string system_template, std::string user_template);
  // From the named options `system_template` and `user_template` (texts, empty when absent);
  // TypeError for any other option or a value that is not text.
  static PromptBuilder from_options(const qorl_core::Options& options);

  const std::string& system_template() const noexcept { return system_template_; }
  const std::string& user_template() const noexcept { return user_template_; }
  // Every variable either template names.
  const std::set<std::string>& prompt_key_set() const noexcept { return prompt_key_set_; }

  // The messages of one request: a system message when the system template is not empty, then
  // one user message holding `extra_contents` in their order followed by the user text (when
  // not empty). Values not named by a template are ignored; MissingPromptVariableError lists
  // every variable without a value.
  std::vector<Message> format(
      const qorl_core::Map& prompt_kwargs,
      const std::vector<std::shared_ptr<Attachment>>& extra_contents = {}) const;

  // One template part: literal text, or a variable when `is_variable`.
  struct Segment {
    std::string text;
    bool is_variable = false;
  };

 private:
  std::string system_template_;
  std::string user_template_;
  std::vector<Segment> system_segments_;
  std::vector<Segment> user_segments_;
  std::set<std::string> prompt_key_set_;
};

}  // namespace qorl_inference
