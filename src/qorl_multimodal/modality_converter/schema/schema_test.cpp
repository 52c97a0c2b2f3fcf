#include <gtest/gtest.h>

#include "qorl_multimodal/modality_converter/schema.hpp"
#include "qorl_multimodal/modality_converter/schema/mermaid.hpp"

namespace qorl_multimodal::modality_converter::schema {
namespace {

using qorl_core::Map;
using qorl_core::ValidationError;
using qorl_core::Value;

TEST(TextResultTest, TagIsRequiredAndMetadataDefaultsToNone) {
  try {
    TextResult::from_options({{"result", "x"}});
    FAIL() << "no ValidationError";
  } catch (const ValidationError& error) {
    EXPECT_TRUE(error.names("tag"));
    EXPECT_EQ(error.errors().size(), 1u);
  }
  const auto result = TextResult::from_options({{"result", "x"}, {"tag", "caption"}});
  EXPECT_TRUE(result.metadata.is_none());
}

TEST(TextResultTest, MetadataIsAMapARecordOrNoneAndNestsInToMap) {
  EXPECT_THROW(TextResult::from_options({{"result", ""}, {"tag", ""}, {"metadata", 3}}),
               ValidationError);
  auto mermaid =
      std::make_shared<mermaid::Mermaid>(mermaid::Mermaid::from_options({{"context", "c"}}));
  auto result =
      TextResult::from_options({{"result", "graph"}, {"tag", "mermaid"}, {"metadata", mermaid}});
  EXPECT_EQ(result.metadata.object_as<mermaid::Mermaid>(), mermaid);
  EXPECT_EQ(result.to_map().at("metadata"),
            Value(Map{{"diagram_type", Value()}, {"context", "c"}}));
}

TEST(AudioTranscriptTest, LangIdMustBeGivenButMayBeNone) {
  EXPECT_THROW(AudioTranscript::from_options({{"text", "hi"}, {"start_time", 0}, {"end_time", 1}}),
               ValidationError);
  auto transcript = AudioTranscript::from_options(
      {{"text", "hi"}, {"start_time", 2}, {"end_time", 1}, {"lang_id", Value()}});
  EXPECT_EQ(transcript.lang_id, std::nullopt);
  EXPECT_TRUE(transcript.to_map().at("start_time").is_double());  // whole numbers stored as real
  EXPECT_DOUBLE_EQ(transcript.end_time, 1.0);                     // end before start is allowed
}

TEST(MermaidTest, DefaultsToNoneAndIgnoresUnknownNames) {
  auto empty = mermaid::Mermaid::from_options({});
  EXPECT_EQ(empty.diagram_type, std::nullopt);
  EXPECT_EQ(empty.context, std::nullopt);
  auto flow =
      mermaid::Mermaid::from_options({{"diagram_type", "flowchart"}, {"filename", "a.png"}});
  EXPECT_EQ(flow.diagram_type, "flowchart");
  EXPECT_EQ(flow.to_map().keys(), (std::vector<std::string>{"diagram_type", "context"}));
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::schema
