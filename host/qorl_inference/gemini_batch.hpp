// Gemini's batch mode: the same GenerateContentRequests as direct calls, sent together through
// models/{model}:batchGenerateContent at half the price, answered within hours.
//
// A conversion awaits generate() with the exact request body it would have sent directly; the
// batcher gathers the requests of every conversion of a run and submits them when `max_requests`
// wait, when none came for `linger`, or on flush(): inline while the batch stays under
// `inline_limit`, else as a JSON Lines file uploaded through the Files API. It then polls the
// batch (interval growing to a cap, within an overall deadline) and hands each conversion its own
// answer, matched by key whatever the order of the output. A request is keyed by a digest of its
// JSON, so the same request made again (by a rerun) has the same key and resume() lets it wait
// for a batch submitted earlier instead of being sent again; identical requests of one run share
// one answer. A batch that no conversion waits for any more (all were cancelled) is cancelled and
// deleted. In detached mode the batcher never waits for a batch: a request is submitted (or found
// in a resumed batch), the batch's state is read once, and unless it has finished the request
// fails with BatchPending, which a later run resumes. Everything runs on the batcher's executor
// (one loop, or a strand).
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "qorl_core/retry.hpp"
#include "qorl_inference/lm_invoker.hpp"

namespace qorl_inference {

// How a batch is polled: every `initial_interval` at first, each wait `growth` times the last,
// at most `max_interval`; after `deadline` the batch is cancelled and its requests fail.
struct BatchPolling {
  std::chrono::milliseconds initial_interval{std::chrono::seconds(10)};
  double growth = 1.5;
  std::chrono::milliseconds max_interval{std::chrono::minutes(5)};
  std::chrono::milliseconds deadline{std::chrono::hours(24)};
};

struct GeminiBatcherOptions {
  std::string model_name;  // "gemini-2.5-flash"
  // Empty: the environment's GEMINI_API_KEY, else GOOGLE_API_KEY.
  std::string api_key;
  // Empty: the environment's GOOGLE_GEMINI_BASE_URL, else the public endpoint.
  std::string base_url;
  std::size_t max_requests = 1000;
  std::chrono::milliseconds linger{std::chrono::seconds(2)};
  // The documented size of an inline batchGenerateContent request.
  std::size_t inline_limit = 20 * 1024 * 1024;
  BatchPolling polling;
  // Of each REST call (submission, polls, cancellation).
  qorl_core::RetryConfig retry_config;
  RetryBackoff backoff;
  // Submit and hand back: see above.
  bool detach = false;
  // Told of each batch once submitted, with the keys of its requests: what a later run resumes.
  std::function<void(const std::string& batch_name, const std::vector<std::string>& keys)>
      on_submitted;
  // Told of each batch cancelled (nobody waits for it, or the polling deadline passed): its
  // requests are to be submitted anew, not resumed.
  std::function<void(const std::string& batch_name)> on_cancelled;
};

class GeminiBatcher {
 public:
  // ValueError for an empty model name.
  static std::shared_ptr<GeminiBatcher> create(boost::asio::any_io_executor executor,
                                               GeminiBatcherOptions options);
  ~GeminiBatcher();

  // The key a request is known by in a batch: a digest of its JSON text.
  static std::string request_key(std::string_view request_json);

  // Queues one GenerateContentRequest (JSON) and returns its GenerateContentResponse (JSON).
  // The request is keyed by `key_material` when given (the request with what varies between
  // runs, such as upload URIs, put as the content it stands for), else by itself.
  // BaseInvokerError when the request failed inside the batch, or the batch failed, expired, was
  // cancelled or outlived the polling deadline. Cancelling takes the request out of the batch.
  boost::asio::awaitable<std::string> generate(std::string request_json,
                                               std::string key_material = {});

  // Submits the requests queued now without waiting for more.
  void flush();

  // A batch submitted earlier (by a run that crashed or detached): requests with these keys
  // wait for its answers instead of being submitted again.
  void resume(const std::string& batch_name, const std::vector<std::string>& keys);

  const std::string& model_name() const noexcept;

 private:
  struct State;
  GeminiBatcher(boost::asio::any_io_executor executor, GeminiBatcherOptions options);
  std::shared_ptr<State> state_;
};

// Batch mode for a whole run: one batcher per model, key and endpoint, made on first use with
// `defaults` for the rest, and each told of the batches a rerun resumes.
class GeminiBatchRegistry {
 public:
  GeminiBatchRegistry(boost::asio::any_io_executor executor, GeminiBatcherOptions defaults);

  std::shared_ptr<GeminiBatcher> batcher_for(const std::string& model_name,
                                             const std::string& api_key,
                                             const std::string& base_url);
  // GeminiBatcher::resume on every batcher, those made later included.
  void resume(const std::string& batch_name, const std::vector<std::string>& keys);

 private:
  std::mutex mutex_;
  boost::asio::any_io_executor executor_;
  GeminiBatcherOptions defaults_;
  std::map<std::tuple<std::string, std::string, std::string>, std::shared_ptr<GeminiBatcher>>
      batchers_;
  std::vector<std::pair<std::string, std::vector<std::string>>> resumed_;
};

// The registry every GoogleLMInvoker without a batcher of its own sends through; none (the
// default) for direct calls.
void set_default_gemini_batching(std::shared_ptr<GeminiBatchRegistry> registry);
std::shared_ptr<GeminiBatchRegistry> default_gemini_batching();

}  // namespace qorl_inference
