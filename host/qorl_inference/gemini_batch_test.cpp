#include "qorl_inference/gemini_batch.hpp"

#include <gtest/gtest.h>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include <map>
#include <nlohmann/json.hpp>

#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/google_lm_invoker.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/media.hpp"

namespace qorl_inference {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using qorl_testing::FakeGeminiServer;

// The outcome of one conversion: its answer text or its error.
struct Outcome {
  std::optional<std::string> text;
  std::optional<std::string> error;
};

class GeminiBatchTest : public ::testing::Test {
 protected:
  GeminiBatcherOptions batcher_options() {
    GeminiBatcherOptions o;
    o.model_name = "gemini-2.5-flash";
    o.api_key = server.api_key();
    o.base_url = server.base_url();
    o.linger = 5ms;
    o.polling = {1ms, 2.0, 4ms, std::chrono::hours(1)};
    o.retry_config = {0, 0.0};
    o.on_submitted = [this](const std::string& name, const std::vector<std::string>& keys) {
      submitted[name] = keys;
    };
    return o;
  }

  // Invokes an invoker on `batcher` once per prompt, all at once on `loop`, and runs the loop.
  // With `image`, each prompt is sent with it, through the Files API.
  std::map<std::string, Outcome> convert(asio::io_context& loop,
                                         const std::shared_ptr<GeminiBatcher>& batcher,
                                         const std::vector<std::string>& prompts,
                                         std::shared_ptr<Attachment> image = nullptr) {
    GoogleLMInvokerOptions o;
    o.model_name = "gemini-2.5-flash";
    o.api_key = server.api_key();
    o.base_url = server.base_url();
    o.batcher = batcher;
    if (image) o.inline_data_limit = 16;
    auto invoker = std::make_shared<GoogleLMInvoker>(o);
    std::map<std::string, Outcome> outcomes;
    for (const auto& prompt : prompts) {
      auto message = Message::user({prompt});
      if (image) message.contents.emplace_back(image);
      asio::co_spawn(loop, invoker->invoke({std::move(message)}),
                     [&outcomes, prompt](std::exception_ptr error, LMResponse response) {
                       if (!error) {
                         outcomes[prompt].text = response.text;
                         return;
                       }
                       try {
                         std::rethrow_exception(error);
                       } catch (const std::exception& e) {
                         outcomes[prompt].error = e.what();
                       }
                     });
    }
    loop.run();
    return outcomes;
  }

  std::vector<std::string> batch_requests(const std::string& method, const std::string& suffix) {
    std::vector<std::string> paths;
    for (const auto& request : server.requests()) {
      if (request.method == method && request.path.find(suffix) != std::string::npos)
        paths.push_back(request.path);
    }
    return paths;
  }

  FakeGeminiServer server;
  std::map<std::string, std::vector<std::string>> submitted;
};

TEST_F(GeminiBatchTest, OneBatchIsPolledThroughEveryStateAndAnswersAreMatchedByKey) {
  asio::io_context loop;
  const auto batcher = GeminiBatcher::create(loop.get_executor(), batcher_options());
  const std::vector<std::string> prompts{"first", "second", "third"};
  const auto outcomes = convert(loop, batcher, prompts);
  // The fake answers in reverse order: each still gets its own answer.
  for (const auto& prompt : prompts) {
    EXPECT_EQ(outcomes.at(prompt).text, "Answer to: " + prompt)
        << outcomes.at(prompt).error.value_or("");
  }
  ASSERT_EQ(submitted.size(), 1u);
  const auto& [name, keys] = *submitted.begin();
  EXPECT_EQ(server.batches().at(name), keys);
  EXPECT_EQ(keys.size(), 3u);
  EXPECT_TRUE(server.generate_requests().empty());
  // PENDING when submitted, RUNNING at the first read, SUCCEEDED at the second.
  EXPECT_EQ(batch_requests("GET", name).size(), 2u);
  // Each key is the digest of the request as a direct call would have sent it.
  const auto batch = nlohmann::ordered_json::parse(server.requests().front().body);
  const auto& first = batch["batch"]["inputConfig"]["requests"]["requests"][0];
  EXPECT_EQ(first["metadata"]["key"], GeminiBatcher::request_key(first["request"].dump()));
  EXPECT_EQ(first["request"]["contents"][0]["parts"][0]["text"], "first");
}

TEST_F(GeminiBatchTest, ARequestThatFailsInsideTheBatchFailsAlone) {
  asio::io_context loop;
  const auto batcher = GeminiBatcher::create(loop.get_executor(), batcher_options());
  const auto outcomes = convert(loop, batcher, {"fine", "please fail in batch"});
  EXPECT_EQ(outcomes.at("fine").text, "Answer to: fine");
  ASSERT_TRUE(outcomes.at("please fail in batch").error);
  EXPECT_NE(outcomes.at("please fail in batch")
                .error->find("failed this request: Request contains an invalid argument."),
            std::string::npos)
      << *outcomes.at("please fail in batch").error;
}

TEST_F(GeminiBatchTest, ALargeBatchGoesAsAJsonLinesFileAndItsAnswersComeAsAFile) {
  asio::io_context loop;
  auto options = batcher_options();
  options.inline_limit = 10;
  const auto batcher = GeminiBatcher::create(loop.get_executor(), options);
  const auto outcomes = convert(loop, batcher, {"one", "two"});
  EXPECT_EQ(outcomes.at("one").text, "Answer to: one");
  EXPECT_EQ(outcomes.at("two").text, "Answer to: two");
  EXPECT_EQ(batch_requests("GET", ":download").size(), 1u);
  // The uploaded input file is removed afterwards.
  ASSERT_EQ(server.removed_files().size(), 1u);
  ASSERT_EQ(submitted.size(), 1u);
  EXPECT_EQ(server.batches().at(submitted.begin()->first).size(), 2u);
}

TEST_F(GeminiBatchTest, ARerunResumesTheSubmittedBatchInsteadOfSubmittingAgain) {
  {
    // Killed between submission and completion: the loop stops once the batch is submitted.
    asio::io_context loop;
    auto options = batcher_options();
    options.polling.initial_interval = std::chrono::hours(1);
    options.on_submitted = [&](const std::string& name, const std::vector<std::string>& keys) {
      submitted[name] = keys;
      loop.stop();
    };
    const auto batcher = GeminiBatcher::create(loop.get_executor(), options);
    convert(loop, batcher, {"alpha", "beta"});
  }
  ASSERT_EQ(submitted.size(), 1u);
  const auto [name, keys] = *submitted.begin();
  submitted.clear();

  asio::io_context loop;
  const auto batcher = GeminiBatcher::create(loop.get_executor(), batcher_options());
  batcher->resume(name, keys);
  const auto outcomes = convert(loop, batcher, {"beta", "alpha"});
  EXPECT_EQ(outcomes.at("alpha").text, "Answer to: alpha");
  EXPECT_EQ(outcomes.at("beta").text, "Answer to: beta");
  EXPECT_TRUE(submitted.empty());
  EXPECT_EQ(server.batches().size(), 1u);
}

TEST_F(GeminiBatchTest, DetachedRequestsAreHandedBackUntilARerunFindsTheirBatchFinished) {
  auto options = batcher_options();
  options.detach = true;
  {
    // Submitted (PENDING), read once (RUNNING): every request is handed back.
    asio::io_context loop;
    const auto batcher = GeminiBatcher::create(loop.get_executor(), options);
    for (const auto& [prompt, outcome] : convert(loop, batcher, {"alpha", "beta", "gamma"})) {
      ASSERT_TRUE(outcome.error) << prompt;
      EXPECT_NE(outcome.error->find("run again to collect the answer"), std::string::npos)
          << *outcome.error;
    }
  }
  ASSERT_EQ(submitted.size(), 1u);
  const auto [name, keys] = *submitted.begin();
  EXPECT_TRUE(server.deleted_batches().empty());

  // The rerun converts fewer sources at a time than the batch holds: answers that come before
  // their conversion asks are kept for it, and nothing is submitted again.
  asio::io_context loop;
  const auto batcher = GeminiBatcher::create(loop.get_executor(), options);
  batcher->resume(name, keys);
  EXPECT_EQ(convert(loop, batcher, {"beta"}).at("beta").text, "Answer to: beta");
  loop.restart();
  const auto rest = convert(loop, batcher, {"alpha", "gamma"});
  EXPECT_EQ(rest.at("alpha").text, "Answer to: alpha");
  EXPECT_EQ(rest.at("gamma").text, "Answer to: gamma");
  EXPECT_EQ(server.batches().size(), 1u);
}

TEST_F(GeminiBatchTest, RequestsWithUploadsAreKeyedByContentSoARerunStillResumes) {
  auto options = batcher_options();
  options.detach = true;
  const auto image = Attachment::from_bytes(qorl_testing::encode_image(".png"), "chart.png");
  for (int run = 0; run < 2; ++run) {
    // The rerun uploads the image again, under another URI, and finds its request in the batch.
    asio::io_context loop;
    const auto batcher = GeminiBatcher::create(loop.get_executor(), options);
    for (const auto& [name, keys] : submitted) batcher->resume(name, keys);
    const auto outcome = convert(loop, batcher, {"describe"}, image).at("describe");
    if (run == 0) {
      EXPECT_TRUE(outcome.error);
    } else {
      EXPECT_EQ(outcome.text, "Answer to: describe") << outcome.error.value_or("");
    }
  }
  EXPECT_EQ(server.batches().size(), 1u);
}

TEST_F(GeminiBatchTest, AnExpiredBatchFailsEveryRequest) {
  server.set_batch_states({"BATCH_STATE_PENDING", "BATCH_STATE_EXPIRED"});
  asio::io_context loop;
  const auto batcher = GeminiBatcher::create(loop.get_executor(), batcher_options());
  const auto outcomes = convert(loop, batcher, {"late", "later"});
  for (const auto& [prompt, outcome] : outcomes) {
    ASSERT_TRUE(outcome.error) << prompt;
    EXPECT_NE(outcome.error->find("ended BATCH_STATE_EXPIRED"), std::string::npos)
        << *outcome.error;
  }
}

TEST_F(GeminiBatchTest, PassingThePollingDeadlineCancelsAndDeletesTheBatch) {
  server.set_batch_states({"BATCH_STATE_PENDING"});
  asio::io_context loop;
  auto options = batcher_options();
  options.polling.deadline = 10ms;
  const auto batcher = GeminiBatcher::create(loop.get_executor(), options);
  const auto outcomes = convert(loop, batcher, {"slow"});
  ASSERT_TRUE(outcomes.at("slow").error);
  EXPECT_NE(outcomes.at("slow").error->find("polling deadline"), std::string::npos);
  ASSERT_EQ(submitted.size(), 1u);
  EXPECT_EQ(server.cancelled_batches(), std::vector<std::string>{submitted.begin()->first});
  EXPECT_EQ(server.deleted_batches(), std::vector<std::string>{submitted.begin()->first});
}

TEST_F(GeminiBatchTest, CancellingEveryWaitingRequestCancelsAndDeletesTheBatch) {
  server.set_batch_states({"BATCH_STATE_PENDING"});
  asio::io_context loop;
  auto options = batcher_options();
  options.polling.initial_interval = 20ms;
  options.polling.max_interval = 20ms;
  const auto batcher = GeminiBatcher::create(loop.get_executor(), options);
  GoogleLMInvokerOptions o;
  o.model_name = "gemini-2.5-flash";
  o.api_key = server.api_key();
  o.base_url = server.base_url();
  o.batcher = batcher;
  GoogleLMInvoker invoker(o);
  asio::cancellation_signal cancel;
  std::exception_ptr outcome;
  asio::co_spawn(loop, invoker.invoke({Message::user({std::string("never mind")})}),
                 asio::bind_cancellation_slot(cancel.slot(), [&](std::exception_ptr error,
                                                                 LMResponse) { outcome = error; }));
  while (submitted.empty() && loop.run_one()) {
  }
  ASSERT_EQ(submitted.size(), 1u);
  cancel.emit(asio::cancellation_type::terminal);
  loop.run();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(server.cancelled_batches(), std::vector<std::string>{submitted.begin()->first});
  EXPECT_EQ(server.deleted_batches(), std::vector<std::string>{submitted.begin()->first});
}

}  // namespace
}  // namespace qorl_inference
