#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/lm_based_image_to_mermaid.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_inference/builder.hpp"
#include "qorl_inference/google_lm_invoker.hpp"
#include "qorl_inference/openai_lm_invoker.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/preset_image_to_mermaid.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"
#include "testing/scoped_env.hpp"
#include "testing/source_files.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::
    lm_based_image_to_mermaid {
namespace {

using nlohmann::json;
using qorl_core::Bytes;
using qorl_core::Options;
namespace preset = preset_image_to_mermaid;

static_assert(std::is_abstract_v<image_to_mermaid::BaseImageToMermaid>);

constexpr const char* kAnswer =
    "```mermaid\ngraph TD\nA@{ shape: terminal, label: \"START\"} --> B\n```";

class LMBasedImageToMermaidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("GOOGLE_GEMINI_BASE_URL", gemini_.base_url()).set("GEMINI_API_KEY", gemini_.api_key());
    gemini_.set_answer_text(kAnswer);
  }

  json last_body() const {
    const auto requests = gemini_.generate_requests();
    EXPECT_FALSE(requests.empty());
    return requests.empty() ? json() : json::parse(requests.back().body);
  }

  const Bytes png_ = qorl_testing::encode_image(".png");
  qorl_testing::FakeGeminiServer gemini_;
  qorl_testing::ScopedEnv env_;
};

TEST_F(LMBasedImageToMermaidTest, DefaultPresetSendsTheImageAloneAndReturnsTheAnswerAsItCame) {
  auto converter = LMBasedImageToMermaid::from_preset();
  const auto result = qorl_core::run_sync(converter->convert(
      png_, {{"diagram_type", "flowchart"}, {"context", "login flow"}, {"other", 1}}));
  EXPECT_EQ(result.result, kAnswer);
  EXPECT_EQ(result.tag, "mermaid");
  const auto metadata = result.metadata.object_as<Mermaid>();
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->diagram_type, "flowchart");
  EXPECT_EQ(metadata->context, "login flow");

  // No prompt variables: the model sees the templates with their doubled braces made single.
  const json body = last_body();
  std::string system_text(preset::DEFAULT_SYSTEM_PROMPT);
  for (const char* doubled : {"{{", "}}"}) {
    for (auto at = system_text.find(doubled); at != std::string::npos;
         at = system_text.find(doubled, at + 1)) {
      system_text.erase(at, 1);
    }
  }
  EXPECT_EQ(body["systemInstruction"]["parts"][0]["text"], system_text);
  const json parts = body["contents"][0]["parts"];
  ASSERT_EQ(parts.size(), 2u);  // exactly one attachment, then the user text
  EXPECT_EQ(parts[0]["inlineData"]["data"], qorl_core::base64_encode(png_.view()));
  EXPECT_EQ(parts[1]["text"], "image(s) attached.");
  EXPECT_NE(gemini_.generate_requests().back().path.find("gemini-2.5-flash"), std::string::npos);
}

TEST_F(LMBasedImageToMermaidTest, TemplatesNamingTheMermaidFieldsGetThem) {
  auto converter = LMBasedImageToMermaid::from_lm_components(
      std::make_shared<qorl_inference::PromptBuilder>("Draw a {diagram_type}.",
                                                      "Context: {context}"),
      qorl_inference::build_lm_invoker("google/gemini-2.5-flash"), nullptr);
  qorl_core::run_sync(
      converter->convert(png_, {{"diagram_type", "sequence"}, {"context", "checkout"}}));
  const json body = last_body();
  EXPECT_EQ(body["systemInstruction"]["parts"][0]["text"], "Draw a sequence.");
  EXPECT_EQ(body["contents"][0]["parts"][1]["text"], "Context: checkout");
}

TEST_F(LMBasedImageToMermaidTest, ModelFailureGivesAnEmptyMermaidResultAndOneDebugLine) {
  qorl_testing::LogCapture capture;
  gemini_.queue_reply(
      {400, qorl_testing::FakeGeminiServer::error_body(400, "Bad image", "INVALID_ARGUMENT")});
  auto converter = LMBasedImageToMermaid::from_preset(std::nullopt);
  const auto result = qorl_core::run_sync(converter->convert(png_, {{"context", "c"}}));
  EXPECT_EQ(result.result, "");
  EXPECT_EQ(result.tag, "mermaid");
  EXPECT_EQ(result.metadata.object_as<Mermaid>()->context, "c");
  const auto lines = capture.messages("LMBasedImageToMermaid");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Failed to generate mermaid syntax: ", 0), 0u);
  EXPECT_EQ(lines[0].find(gemini_.api_key()), std::string::npos);

  // A Mermaid option of the wrong kind is the caller's error, not the model's.
  EXPECT_THROW(qorl_core::run_sync(converter->convert(png_, {{"diagram_type", 3}})),
               qorl_core::ValidationError);
}

TEST(PresetImageToMermaidTest, PresetNamesModelIdAndTemplates) {
  auto [invoker, builder, parser] = preset::get_preset_image_to_mermaid("default");
  auto google = std::dynamic_pointer_cast<qorl_inference::GoogleLMInvoker>(invoker);
  ASSERT_TRUE(google);
  EXPECT_EQ(google->model_name(), "gemini-2.5-flash");
  EXPECT_TRUE(builder->prompt_key_set().empty());
  EXPECT_FALSE(parser);

  Options chosen{{"model_id", "openai/local-vlm"}};
  auto converter = LMBasedImageToMermaid::from_preset("default", &chosen);
  auto openai = std::dynamic_pointer_cast<qorl_inference::OpenAILMInvoker>(
      converter->lm_request_processor->lm_invoker());
  ASSERT_TRUE(openai);
  EXPECT_EQ(openai->model_name(), "local-vlm");

  // The caller's map receives the default model before the name is refused.
  Options invoker_kwargs{{"max_retries", 1}};
  try {
    preset::get_preset_image_to_mermaid("fast", &invoker_kwargs);
    FAIL();
  } catch (const qorl_core::ValueError& error) {
    EXPECT_STREQ(error.what(), "Invalid preset name: fast");
  }
  EXPECT_EQ(invoker_kwargs, (Options{{"max_retries", 1}, {"model_id", "google/gemini-2.5-flash"}}));

  Options templates{{"system_template", "x"}};
  EXPECT_THROW(preset::get_preset_image_to_mermaid(std::nullopt, nullptr, &templates),
               qorl_core::TypeError);
}

TEST(PresetImageToMermaidTest, SystemPromptIsTheReferenceTextByteForByte) {
  EXPECT_EQ(preset::DEFAULT_SYSTEM_PROMPT,
            qorl_testing::read_source_file(
                "src/qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/"
                "testdata/mermaid_system_prompt.txt"));
}

}  // namespace
}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::lm_based_image_to_mermaid
