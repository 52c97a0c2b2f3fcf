#include "qorl_multimodal/modality_transformer/image_modality_transformer/image_modality_transformer.hpp"

#include <gtest/gtest.h>

#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer/generic_image_modality_transformer.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/standard_image_modality_transformer.hpp"
#include "testing/log_capture.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer {
namespace {

using generic_image_modality_transformer::GenericImageModalityTransformer;
using image_modality_transformer::BaseModalityConverter;
using image_modality_transformer::ImageModalityTransformer;
using qorl_core::Options;
using qorl_core::run_sync;
using qorl_core::Value;
using standard_image_modality_transformer::standard_image_modality_transformer::
    StandardImageModalityTransformer;

static_assert(std::is_abstract_v<ImageModalityTransformer>);

// Answers `result` and remembers what each call received.
class RecordingConverter : public BaseModalityConverter {
 public:
  explicit RecordingConverter(std::string result) : result_(std::move(result)) {}
  boost::asio::awaitable<modality_converter::modality_converter::TextResult> convert(
      Value source, Options options) override {
    calls.emplace_back(std::move(source), std::move(options));
    modality_converter::modality_converter::TextResult text;
    text.result = result_;
    text.tag = "caption";
    co_return text;
  }
  std::vector<std::pair<Value, Options>> calls;

 private:
  std::string result_;
};

// Answers `answer` for every source and counts its calls.
class ScriptedRouter : public qorl_pipeline::BaseRouter {
 public:
  ScriptedRouter(std::set<std::string> routes, std::string default_route, std::string answer)
      : BaseRouter(std::move(routes), std::move(default_route)), answer_(std::move(answer)) {}
  std::string route(const Value& source) override {
    sources.push_back(source);
    return answer_;
  }
  std::vector<Value> sources;

 private:
  std::string answer_;
};

TEST(ImageModalityTransformerTest, RunChecksInputsAndHandsThemToTheConverterByName) {
  auto converter = std::make_shared<RecordingConverter>("R");
  GenericImageModalityTransformer transformer(converter);

  try {
    run_sync(transformer.run({{"query", "q"}}));
    FAIL();
  } catch (const qorl_core::ValueError& e) {
    EXPECT_STREQ(e.what(),
                 "The input kwargs for modality transformer must include a `source` key.");
  }
  const std::vector<std::pair<Value, std::string>> wrong_kinds = {{Value(), "NoneType"},
                                                                  {3, "int"},
                                                                  {1.5, "float"},
                                                                  {qorl_core::List{}, "list"},
                                                                  {qorl_core::Map{}, "dict"}};
  for (const auto& [source, kind] : wrong_kinds) {
    try {
      run_sync(transformer.run({{"source", source}}));
      FAIL() << kind;
    } catch (const qorl_core::TypeError& e) {
      EXPECT_EQ(e.what(), "Expected str or bytes, but got " + kind);
    }
  }
  EXPECT_THROW(run_sync(transformer.transform("a.png", {}, {{"query", "again"}})),
               qorl_core::TypeError);
  EXPECT_TRUE(converter->calls.empty());

  EXPECT_EQ(
      run_sync(transformer.run({{"source", "a.png"}, {"query", "what?"}, {"language", "id"}})),
      Value("R"));
  EXPECT_EQ(run_sync(transformer.transform(qorl_core::Bytes("img"))), Value("R"));
  EXPECT_EQ(run_sync(transformer.transform("")), Value("R"));
  ASSERT_EQ(converter->calls.size(), 3u);
  EXPECT_EQ(converter->calls[0].first, Value("a.png"));
  EXPECT_EQ(converter->calls[0].second, (Options{{"query", "what?"}, {"language", "id"}}));
  EXPECT_EQ(converter->calls[1].first, Value(qorl_core::Bytes("img")));
  EXPECT_EQ(converter->calls[1].second, (Options{{"query", Value()}}));
  EXPECT_EQ(converter->calls[2].first, Value(""));

  // The start event logs no URL secrets and no megabytes of base64.
  qorl_testing::LogCapture capture;
  run_sync(transformer.run({{"source", "https://h/a.png?X-Amz-Signature=s3cr3t"}}));
  run_sync(transformer.run({{"source", std::string(1 << 20, 'A')}}));
  const auto lines = capture.messages("GenericImageModalityTransformer");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "[Start 'GenericImageModalityTransformer'] Running with: "
            "{'source': 'https://h/a.png?X-Amz-Signature=REDACTED'}");
  EXPECT_LT(lines[2].size(), 1024u);
}

TEST(ImageModalityTransformerTest, StandardTransformerChecksRoutesAndRoutesEachSource) {
  auto a = std::make_shared<RecordingConverter>("from a");
  auto b = std::make_shared<RecordingConverter>("from b");
  auto router = std::make_shared<ScriptedRouter>(std::set<std::string>{"a", "b"}, "a", "b");
  try {
    StandardImageModalityTransformer(router, {{"a", a}});
    FAIL();
  } catch (const qorl_core::ValueError& e) {
    EXPECT_STREQ(e.what(), "Missing routes: {'b'}");
  }

  StandardImageModalityTransformer transformer(router, {{"a", a}, {"b", b}, {"c", a}});
  EXPECT_EQ(run_sync(transformer.run({{"source", "x.png"}, {"topic", "t"}})), Value("from b"));
  EXPECT_EQ(router->sources, std::vector<Value>{"x.png"});
  ASSERT_EQ(b->calls.size(), 1u);
  EXPECT_EQ(b->calls[0].second, (Options{{"query", Value()}, {"topic", "t"}}));

  // Skipping the router takes its default route without asking it; the flag is not passed on.
  EXPECT_EQ(run_sync(transformer.transform("y.png", "q", {{"skip_routing", true}})),
            Value("from a"));
  EXPECT_EQ(router->sources.size(), 1u);
  ASSERT_EQ(a->calls.size(), 1u);
  EXPECT_EQ(a->calls[0].second, (Options{{"query", "q"}}));

  // A route outside the mapping fails before any converter runs.
  auto stray = std::make_shared<ScriptedRouter>(std::set<std::string>{"a"}, "a", "z");
  StandardImageModalityTransformer lost(stray, {{"a", a}});
  try {
    run_sync(lost.transform("z.png"));
    FAIL();
  } catch (const qorl_core::KeyError& e) {
    EXPECT_STREQ(e.what(), "'z'");
  }
  EXPECT_EQ(a->calls.size(), 1u);
}

}  // namespace
}  // namespace qorl_multimodal::modality_transformer::image_modality_transformer
