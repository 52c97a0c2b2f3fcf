#include "qorl_inference/prompt_builder.hpp"

#include <cctype>

namespace qorl_inference {
namespace {

using Segment = PromptBuilder::Segment;

bool is_name(std::string_view text) {
  if (text.empty() || std::isdigit(static_cast<unsigned char>(text.front()))) return false;
  for (unsigned char c : text) {
    if (!std::isalnum(c) && c != '_') return false;
  }
  return true;
}

std::vector<Segment> parse_template(const std::string& text) {
  std::vector<Segment> segments;
  std::string literal;
  auto flush = [&] {
    if (!literal.empty()) segments.push_back({std::move(literal), false});
    literal.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '}') {
      if (i + 1 < text.size() && text[i + 1] == '}') {
        literal += '}';
        ++i;
        continue;
      }
      throw qorl_core::ValueError("Single '}' encountered in prompt template at position " +
                                  std::to_string(i));
    }
    if (c != '{') {
      literal += c;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '{') {
      literal += '{';
      ++i;
      continue;
    }
    const std::size_t close = text.find('}', i + 1);
    if (close == std::string::npos) {
      throw qorl_core::ValueError("Single '{' encountered in prompt template at position " +
                                  std::to_string(i));
    }
    const std::string name = text.substr(i + 1, close - i - 1);
    if (!is_name(name)) {
      throw qorl_core::ValueError("Prompt template placeholder must be a variable name, got " +
                                  qorl_core::repr("{" + name + "}"));
    }
    flush();
    segments.push_back({name, true});
    i = close;
  }
  flush();
  return segments;
}

std::string render_value(const qorl_core::Value& value) {
  return value.is_string() ? value.as_string() : qorl_core::to_json(value);
}

std::string render(const std::vector<Segment>& segments, const qorl_core::Map& values) {
  std::string out;
  for (const auto& segment : segments) {
    out += segment.is_variable ? render_value(values.at(segment.text)) : segment.text;
  }
  return out;
}

std::string option_text(const qorl_core::Options& options, const std::string& name) {
  const qorl_core::Value* value = options.find(name);
  if (!value) return {};
  if (!value->is_string()) {
    throw qorl_core::TypeError("PromptBuilder option " + qorl_core::repr(name) +
                               " must be text, not " + value->type_name());
  }
  return value->as_string();
}

std::string missing_message(const std::vector<std::string>& names) {
  std::string message =
      names.size() == 1 ? "Missing prompt variable: " : "Missing prompt variables: ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) message += ", ";
    message += qorl_core::repr(names[i]);
  }
  return message;
}

}  // namespace

MissingPromptVariableError::MissingPromptVariableError(std::vector<std::string> names)
    : qorl_core::KeyError(missing_message(names)), names_(std::move(names)) {}

PromptBuilder::PromptBuilder(std::string system_template, std::string user_template)
    : system_template_(std::move(system_template)),
      user_template_(std::move(user_template)),
      system_segments_(parse_template(system_template_)),
      user_segments_(parse_template(user_template_)) {
  for (const auto* segments : {&system_segments_, &user_segments_}) {
    for (const auto& segment : *segments) {
      if (segment.is_variable) prompt_key_set_.insert(segment.text);
    }
  }
}

PromptBuilder PromptBuilder::from_options(const qorl_core::Options& options) {
  for (const auto& name : options.keys()) {
    if (name != "system_template" && name != "user_template") {
      throw qorl_core::TypeError("PromptBuilder got an unexpected option " + qorl_core::repr(name));
    }
  }
  return PromptBuilder(option_text(options, "system_template"),
                       option_text(options, "user_template"));
}

std::vector<Message> PromptBuilder::format(
    const qorl_core::Map& prompt_kwargs,
    const std::vector<std::shared_ptr<Attachment>>& extra_contents) const {
  std::vector<std::string> missing;
  for (const auto& name : prompt_key_set_) {
    if (!prompt_kwargs.contains(name)) missing.push_back(name);
  }
  if (!missing.empty()) throw MissingPromptVariableError(std::move(missing));

  std::vector<Message> messages;
  if (!system_template_.empty()) {
    messages.push_back(Message::system(render(system_segments_, prompt_kwargs)));
  }
  std::vector<ContentPart> parts(extra_contents.begin(), extra_contents.end());
  std::string user_text = render(user_segments_, prompt_kwargs);
  if (!user_text.empty()) parts.emplace_back(std::move(user_text));
  messages.push_back(Message::user(std::move(parts)));
  return messages;
}

}  // namespace qorl_inference
