#include "qorl_multimodal/builder/modality_converter_builder.hpp"

#include <gtest/gtest.h>

#include "qorl_core/errors.hpp"
#include "qorl_inference/openai_lm_invoker.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/lm_based_image_to_mermaid.hpp"
#include "testing/scoped_env.hpp"

namespace qorl_multimodal::builder::modality_converter_builder {
namespace {

using modality_converter::image_to_text::image_to_caption::lm_based_image_to_caption::
    LMBasedImageToCaption;
using modality_converter::image_to_text::image_to_mermaid::lm_based_image_to_mermaid::
    LMBasedImageToMermaid;
using qorl_core::Options;

const std::string kLMBased = "[<ModalityConverterApproach.LM_BASED: 'lm_based'>]";

class BuildModalityConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("GEMINI_API_KEY", "test-key").unset("DEFAULT_IMAGE_CAPTIONING_MODEL_ID");
  }

  template <typename Call>
  static std::string value_error(Call call) {
    try {
      call();
    } catch (const qorl_core::ValueError& error) {
      return error.what();
    }
    return "no ValueError";
  }

  qorl_testing::ScopedEnv env_;
};

template <typename T>
bool is(const std::unique_ptr<BaseModalityConverter>& converter) {
  return dynamic_cast<T*>(converter.get()) != nullptr;
}

TEST_F(BuildModalityConverterTest, RegisteredCombinationsBuildTheirClass) {
  EXPECT_TRUE(is<LMBasedImageToCaption>(build_modality_converter(Modality::IMAGE, Modality::TEXT)));
  EXPECT_TRUE(is<LMBasedImageToCaption>(build_modality_converter(
      Modality::IMAGE, Modality::TEXT, ModalityConverterTask::AUTO, std::nullopt, "default")));
  EXPECT_TRUE(is<LMBasedImageToCaption>(
      build_modality_converter(Modality::IMAGE, Modality::TEXT, ModalityConverterTask::CAPTIONING,
                               ModalityConverterApproach::LM_BASED)));
  EXPECT_TRUE(is<LMBasedImageToMermaid>(
      build_modality_converter(Modality::IMAGE, Modality::TEXT, ModalityConverterTask::MERMAID,
                               ModalityConverterApproach::LM_BASED)));
  // Members equal their texts.
  EXPECT_TRUE(
      is<LMBasedImageToMermaid>(build_modality_converter("image", "text", "mermaid", "lm_based")));

  // The invoker options reach the Mermaid class's named parameter.
  auto mermaid =
      build_modality_converter("image", "text", "mermaid", "lm_based", std::nullopt,
                               {{"lm_invoker_kwargs", Options{{"model_id", "openai/local-vlm"}}},
                                {"prompt_builder_kwargs", nullptr}});
  auto invoker = std::dynamic_pointer_cast<qorl_inference::OpenAILMInvoker>(
      dynamic_cast<LMBasedImageToMermaid&>(*mermaid).lm_request_processor->lm_invoker());
  ASSERT_TRUE(invoker);
  EXPECT_EQ(invoker->model_name(), "local-vlm");
  EXPECT_THROW(build_modality_converter("image", "text", "mermaid", "lm_based", std::nullopt,
                                        {{"lm_invoker_kwargs", "openai/local-vlm"}}),
               qorl_core::TypeError);
}

TEST_F(BuildModalityConverterTest, RefusalsNameWhatIsSupported) {
  const auto image = Modality::IMAGE, text = Modality::TEXT;
  EXPECT_EQ(value_error([&] { build_modality_converter(Modality::AUDIO, text); }),
            "Unsupported source modality: audio. Supported: [<Modality.IMAGE: 'image'>]");
  EXPECT_EQ(value_error([&] { build_modality_converter("video", "text"); }),
            "Unsupported source modality: video. Supported: [<Modality.IMAGE: 'image'>]");
  EXPECT_EQ(value_error([&] { build_modality_converter(image, Modality::AUDIO); }),
            "Cannot convert image \u2192 audio. Supported targets: [<Modality.TEXT: 'text'>]");
  EXPECT_EQ(value_error([&] { build_modality_converter(image, Modality::VIDEO); }),
            "Cannot convert image \u2192 video. Supported targets: [<Modality.TEXT: 'text'>]");
  EXPECT_EQ(value_error(
                [&] { build_modality_converter(image, text, ModalityConverterTask::TRANSCRIPT); }),
            "Unsupported task 'transcript' for image \u2192 text. Available: "
            "[<ModalityConverterTask.CAPTIONING: 'captioning'>, <ModalityConverterTask.MERMAID: "
            "'mermaid'>, "
            "<ModalityConverterTask.AUTO: 'auto'>]");
  EXPECT_EQ(value_error([&] {
              build_modality_converter(image, text, ModalityConverterTask::AUTO,
                                       ModalityConverterApproach::LM_BASED);
            }),
            "Cannot specify 'approach_type' when task_type is AUTO. Use a specific task or omit "
            "approach_type.");
  EXPECT_EQ(value_error(
                [&] { build_modality_converter(image, text, ModalityConverterTask::CAPTIONING); }),
            "Must specify 'approach_type' for task 'captioning'. Available: " + kLMBased);
  EXPECT_EQ(
      value_error([&] { build_modality_converter(image, text, ModalityConverterTask::MERMAID); }),
      "Must specify 'approach_type' for task 'mermaid'. Available: " + kLMBased);
  EXPECT_EQ(value_error([&] {
              build_modality_converter(image, text, ModalityConverterTask::CAPTIONING,
                                       ModalityConverterApproach::WHISPER);
            }),
            "Unsupported approach 'whisper' for task 'captioning'. Available: " + kLMBased);
  // Unknown presets are refused by the class.
  EXPECT_EQ(
      value_error([&] { build_modality_converter(image, text, "auto", std::nullopt, "fast"); }),
      "Invalid preset name: fast");
  EXPECT_EQ(
      value_error([&] { build_modality_converter(image, text, "mermaid", "lm_based", "fast"); }),
      "Invalid preset name: fast");
}

TEST(ModalityConverterRegistryTest, OrderedLevelsFoundByMemberOrText) {
  const auto& registry = MODALITY_CONVERTER_REGISTRY;
  ASSERT_EQ(registry.find("image"), registry.find(Modality::IMAGE));
  const TaskMap* tasks = registry.find("image")->find("text");
  ASSERT_TRUE(tasks);
  std::vector<std::string> names;
  for (const auto& [task, approaches] : *tasks) {
    for (const auto& [approach, converter_class] : approaches) {
      names.push_back(task.str() + "/" + (approach ? approach->str() : "None") + "=" +
                      converter_class.name());
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"captioning/lm_based=LMBasedImageToCaption",
                                             "mermaid/lm_based=LMBasedImageToMermaid",
                                             "auto/None=LMBasedImageToCaption"}));
  EXPECT_EQ(tasks->find("auto")->keys_repr(), "[None]");
  EXPECT_FALSE(tasks->find("auto")->contains("lm_based"));
}

}  // namespace
}  // namespace qorl_multimodal::builder::modality_converter_builder
