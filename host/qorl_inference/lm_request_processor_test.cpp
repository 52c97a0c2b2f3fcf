#include "qorl_inference/lm_request_processor.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

#include "qorl_core/run_sync.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/uses_lm.hpp"

namespace qorl_inference {
namespace {

// Answers with a fixed text (or fails) and keeps what it was sent.
class ScriptedInvoker : public BaseLMInvoker {
 public:
  explicit ScriptedInvoker(std::string answer, std::shared_ptr<ResponseSchema> schema = nullptr)
      : BaseLMInvoker(std::move(schema)), answer_(std::move(answer)) {}
  std::vector<Message> sent;
  bool fail = false;

 protected:
  boost::asio::awaitable<ModelAnswer> _invoke(std::vector<Message> messages) override {
    sent = std::move(messages);
    if (fail) throw std::runtime_error("socket closed");
    co_return ModelAnswer{answer_};
  }

 private:
  std::string answer_;
};

struct Point : qorl_core::Record<Point> {
  double x = 0;
  std::optional<std::string> label;
  static const qorl_core::Schema<Point>& schema() {
    static const qorl_core::Schema<Point> s{
        "Point",
        {qorl_core::field("x", &Point::x).required(), qorl_core::field("label", &Point::label)}};
    return s;
  }
};

std::shared_ptr<PromptBuilder> builder() {
  return std::make_shared<PromptBuilder>("Make {n} captions.", "About {topic}.");
}

TEST(LMRequestProcessorTest, BuildsSendsAndParses) {
  auto invoker = std::make_shared<ScriptedInvoker>("```json\n{\"captions\": [\"x\"]}\n```");
  LMRequestProcessor processor(builder(), invoker, std::make_shared<JSONOutputParser>());
  auto image = Attachment::from_url("https://example.test/a.png");
  auto emitter = std::make_shared<EventEmitter>();
  std::vector<Event> events;
  emitter->add_handler([&](const Event& event) { events.push_back(event); });

  const auto result =
      qorl_core::run_sync(processor.process({{"n", 2}, {"topic", "cats"}}, {image}, emitter));
  EXPECT_EQ(result, qorl_core::Value(qorl_core::Map{{"captions", qorl_core::List{"x"}}}));
  ASSERT_EQ(invoker->sent.size(), 2u);
  EXPECT_EQ(std::get<std::string>(invoker->sent[0].contents[0]), "Make 2 captions.");
  EXPECT_EQ(std::get<std::shared_ptr<Attachment>>(invoker->sent[1].contents[0]), image);
  EXPECT_EQ(std::get<std::string>(invoker->sent[1].contents[1]), "About cats.");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, "response");
  EXPECT_EQ(events[0].value, "```json\n{\"captions\": [\"x\"]}\n```");
}

TEST(LMRequestProcessorTest, WithoutParserReturnsTheAnswerText) {
  LMRequestProcessor processor(builder(),
                               std::make_shared<ScriptedInvoker>("```mermaid\ngraph TD\n```"));
  EXPECT_EQ(qorl_core::run_sync(processor.process({{"n", 1}, {"topic", "t"}})),
            qorl_core::Value("```mermaid\ngraph TD\n```"));
}

TEST(LMRequestProcessorTest, FailuresKeepTheirKinds) {
  auto invoker = std::make_shared<ScriptedInvoker>("not json");
  LMRequestProcessor processor(builder(), invoker, std::make_shared<JSONOutputParser>());
  EXPECT_THROW(qorl_core::run_sync(processor.process({{"n", 1}})), MissingPromptVariableError);
  EXPECT_TRUE(invoker->sent.empty());  // nothing is sent for an incomplete prompt
  EXPECT_THROW(qorl_core::run_sync(processor.process({{"n", 1}, {"topic", "t"}})),
               qorl_core::ValueError);
  invoker->fail = true;
  try {
    qorl_core::run_sync(processor.process({{"n", 1}, {"topic", "t"}}));
    FAIL() << "no error";
  } catch (const BaseInvokerError& error) {
    EXPECT_STREQ(error.what(), "Model request failed: socket closed");
  }
  EXPECT_THROW(LMRequestProcessor(nullptr, invoker), qorl_core::ValueError);
  EXPECT_THROW(LMRequestProcessor(builder(), nullptr), qorl_core::ValueError);
}

TEST(BaseLMInvokerTest, ParsesTheAnswerIntoTheResponseSchema) {
  auto schema = ResponseSchema::of<Point>(json_schema::object(
      {{"x", json_schema::number()}, {"label", json_schema::nullable(json_schema::text())}}));
  ScriptedInvoker invoker(R"({"x": 2, "label": null})", schema);
  const auto response = qorl_core::run_sync(invoker.invoke({Message::user({std::string("hi")})}));
  auto point = response.structured_output_as<Point>();
  ASSERT_TRUE(point);
  EXPECT_EQ(point->x, 2.0);
  EXPECT_FALSE(point->label);

  ScriptedInvoker misfit(R"({"label": 5})", schema);
  try {
    qorl_core::run_sync(misfit.invoke({Message::user({std::string("hi")})}));
    FAIL() << "no error";
  } catch (const BaseInvokerError& error) {
    EXPECT_NE(std::string(error.what()).find("does not fit Point"), std::string::npos)
        << error.what();
  }
  ScriptedInvoker not_an_object("[1]", schema);
  EXPECT_THROW(qorl_core::run_sync(not_an_object.invoke({})), BaseInvokerError);
}

TEST(EventEmitterTest, FromValue) {
  auto emitter = std::make_shared<EventEmitter>();
  EXPECT_EQ(EventEmitter::from_value(qorl_core::Value(emitter)), emitter);
  EXPECT_EQ(EventEmitter::from_value(qorl_core::None{}), nullptr);
  EXPECT_THROW(EventEmitter::from_value("emitter"), qorl_core::TypeError);
}

class PlainUser : public UsesLM<PlainUser> {
 public:
  explicit PlainUser(std::shared_ptr<LMRequestProcessor> processor)
      : UsesLM(std::move(processor)) {}
};

class OptionUser : public UsesLM<OptionUser> {
 public:
  OptionUser(std::shared_ptr<LMRequestProcessor> processor, const qorl_core::Options& options)
      : UsesLM(std::move(processor)), options(options) {}
  qorl_core::Options options;
};

TEST(UsesLMTest, FromLmComponentsBuildsTheProcessor) {
  auto prompt_builder = builder();
  auto invoker = std::make_shared<ScriptedInvoker>("{}");
  auto parser = std::make_shared<JSONOutputParser>();
  auto plain = PlainUser::from_lm_components(prompt_builder, invoker, parser);
  EXPECT_EQ(plain->lm_request_processor->prompt_builder(), prompt_builder);
  EXPECT_EQ(plain->lm_request_processor->lm_invoker(), invoker);
  EXPECT_EQ(plain->lm_request_processor->output_parser(), parser);
  EXPECT_THROW(PlainUser::from_lm_components(prompt_builder, invoker, parser, {{"extra", 1}}),
               qorl_core::TypeError);

  auto with_options =
      OptionUser::from_lm_components(prompt_builder, invoker, nullptr, {{"extra", 1}});
  EXPECT_EQ(with_options->options, (qorl_core::Options{{"extra", 1}}));
  EXPECT_EQ(with_options->lm_request_processor->output_parser(), nullptr);
  EXPECT_THROW(OptionUser::from_lm_components(prompt_builder, invoker, nullptr,
                                              {{"lm_request_processor", 1}}),
               qorl_core::TypeError);
}

}  // namespace
}  // namespace qorl_inference
