#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/standard_image_modality_transformer.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/preset.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/media.hpp"
#include "testing/scoped_env.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer::
    standard_image_modality_transformer::standard_image_modality_transformer {
namespace {

using nlohmann::json;
using qorl_testing::FakeGeminiServer;

class StandardImageModalityTransformerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("GOOGLE_GEMINI_BASE_URL", gemini_.base_url())
        .set("GEMINI_API_KEY", gemini_.api_key())
        .unset("DEFAULT_IMAGE_CAPTIONING_MODEL_ID");
  }
  void reply(const std::string& text) {
    gemini_.queue_reply({200, FakeGeminiServer::answer_body(text)});
  }

  FakeGeminiServer gemini_;
  qorl_testing::ScopedEnv env_;
};

TEST_F(StandardImageModalityTransformerTest, DomainSpecificPresetSharesItsConverters) {
  const auto preset = preset::get_preset();
  const auto& routes = preset.route_mapping;
  ASSERT_EQ(routes.size(), 6u);
  EXPECT_EQ(preset.router->valid_routes().size(), 6u);
  EXPECT_EQ(routes.at("general_image"), routes.at("engineering_diagram"));
  EXPECT_EQ(routes.at("general_image"), routes.at("healthcare_x_ray"));
  EXPECT_EQ(routes.at("general_image"), routes.at("healthcare_mri_ct_scan"));
  EXPECT_EQ(routes.at("diagram"), routes.at("organizational_chart"));
  EXPECT_NE(routes.at("diagram"), routes.at("general_image"));
  std::vector<std::string> names;
  for (const auto& [name, converter] : routes) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"general_image", "engineering_diagram",
                                             "healthcare_x_ray", "healthcare_mri_ct_scan",
                                             "diagram", "organizational_chart"}));

  for (const auto& build :
       {std::function<void()>([] { preset::get_preset("general"); }),
        std::function<void()>([] { StandardImageModalityTransformer::from_preset("general"); })}) {
    try {
      build();
      FAIL();
    } catch (const qorl_core::ValueError& e) {
      EXPECT_STREQ(e.what(), "Invalid preset_name.");
    }
  }
}

TEST_F(StandardImageModalityTransformerTest, RoutesDiagramsToMermaidAndPhotosToCaptions) {
  auto transformer = StandardImageModalityTransformer::from_preset("domain_specific");
  const std::string mermaid =
      "```mermaid\ngraph TD\nA@{ shape: terminal, label: \"START\"} --> B\n```";
  reply("diagram");
  reply(mermaid);
  EXPECT_EQ(qorl_core::run_sync(transformer->run({{"source", qorl_testing::encode_image(".png")}})),
            qorl_core::Value(mermaid));
  reply("general_image");
  reply(json{{"captions", {"Sebuah foto.", "Foto yang sama."}}}.dump());
  EXPECT_EQ(qorl_core::run_sync(
                transformer->run({{"source", qorl_testing::encode_image(".jpg")}, {"query", "?"}})),
            qorl_core::Value("Sebuah foto.\nFoto yang sama."));

  const auto requests = gemini_.generate_requests();
  ASSERT_EQ(requests.size(), 4u);
  const auto system_of = [&](int i) -> std::string {
    return json::parse(requests[i].body)["systemInstruction"]["parts"][0]["text"];
  };
  EXPECT_NE(system_of(0).find("organizational_chart"), std::string::npos);
  EXPECT_NE(system_of(1).find("Mermaid.js"), std::string::npos);
  EXPECT_NE(system_of(2).find("organizational_chart"), std::string::npos);
  EXPECT_NE(system_of(3).find("captions"), std::string::npos);
}

}  // namespace
}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::standard_image_modality_transformer::standard_image_modality_transformer
