#include "qorl_inference/prompt_builder.hpp"

#include <gtest/gtest.h>

namespace qorl_inference {
namespace {

std::string text_of(const Message& message) {
  return std::get<std::string>(message.contents.back());
}

TEST(PromptBuilderTest, FillsVariablesAndKeepsDoubledBracesLiteral) {
  PromptBuilder builder("Write {n} captions in {language}. Answer {{\"captions\": [...]}}",
                        "Title: {title}\nMeta: {meta}\nTags: {tags}\nScore: {score} {flag} {none}");
  EXPECT_EQ(builder.prompt_key_set(), (std::set<std::string>{"n", "language", "title", "meta",
                                                             "tags", "score", "flag", "none"}));
  const qorl_core::Map values{{"n", 3},
                              {"language", "Indonesian"},
                              {"title", "A {braced} title"},
                              {"meta", qorl_core::Map{{"lat", 1.5}, {"city", "Bandung"}}},
                              {"tags", qorl_core::List{"a", 2}},
                              {"score", 0.25},
                              {"flag", true},
                              {"none", qorl_core::None{}},
                              {"unused", "ignored"}};
  const auto messages = builder.format(values);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].role, Role::SYSTEM);
  EXPECT_EQ(text_of(messages[0]), "Write 3 captions in Indonesian. Answer {\"captions\": [...]}");
  EXPECT_EQ(messages[1].role, Role::USER);
  // Inserted texts are not templates themselves.
  EXPECT_EQ(text_of(messages[1]),
            "Title: A {braced} title\nMeta: {\"lat\":1.5,\"city\":\"Bandung\"}\nTags: [\"a\",2]\n"
            "Score: 0.25 true null");
}

TEST(PromptBuilderTest, TemplatesWithoutVariables) {
  PromptBuilder builder("Use `A@{{ shape: terminal }}`.", "image(s) attached.");
  EXPECT_TRUE(builder.prompt_key_set().empty());
  const auto messages = builder.format({});
  EXPECT_EQ(text_of(messages[0]), "Use `A@{ shape: terminal }`.");
  EXPECT_EQ(text_of(messages[1]), "image(s) attached.");
}

TEST(PromptBuilderTest, AttachmentsComeFirstInTheUserMessage) {
  PromptBuilder builder("", "Describe {what}.");
  auto first = Attachment::from_url("https://youtu.be/one");
  auto second = Attachment::from_url("https://youtu.be/two");
  const auto messages = builder.format({{"what", "them"}}, {first, second});
  ASSERT_EQ(messages.size(), 1u);  // no system message for an empty system template
  ASSERT_EQ(messages[0].contents.size(), 3u);
  EXPECT_EQ(std::get<std::shared_ptr<Attachment>>(messages[0].contents[0]), first);
  EXPECT_EQ(std::get<std::shared_ptr<Attachment>>(messages[0].contents[1]), second);
  EXPECT_EQ(std::get<std::string>(messages[0].contents[2]), "Describe them.");
}

TEST(PromptBuilderTest, MissingVariablesAreTheirOwnErrorKind) {
  PromptBuilder builder("{a} {b}", "{c}");
  try {
    builder.format({{"b", 1}});
    FAIL() << "no error";
  } catch (const qorl_core::ValueError&) {
    FAIL() << "a missing variable is not a ValueError";
  } catch (const MissingPromptVariableError& error) {
    EXPECT_EQ(error.names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_STREQ(error.what(), "Missing prompt variables: 'a', 'c'");
  }
}

TEST(PromptBuilderTest, MalformedTemplatesAreRejected) {
  for (const char* bad : {"a { b", "a } b", "{}", "{0}", "{a.b}", "{name!r}", "{x:>4}", "{"}) {
    EXPECT_THROW(PromptBuilder(bad, ""), qorl_core::ValueError) << bad;
    EXPECT_THROW(PromptBuilder("", bad), qorl_core::ValueError) << bad;
  }
}

TEST(PromptBuilderTest, FromOptions) {
  auto builder =
      PromptBuilder::from_options({{"system_template", "S {x}"}, {"user_template", "U"}});
  EXPECT_EQ(builder.system_template(), "S {x}");
  EXPECT_EQ(builder.user_template(), "U");
  EXPECT_EQ(PromptBuilder::from_options({}).prompt_key_set().size(), 0u);
  EXPECT_THROW(PromptBuilder::from_options({{"temperature", 1}}), qorl_core::TypeError);
  EXPECT_THROW(PromptBuilder::from_options({{"user_template", 3}}), qorl_core::TypeError);
}

}  // namespace
}  // namespace qorl_inference
