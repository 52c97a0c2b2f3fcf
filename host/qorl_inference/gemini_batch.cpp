#include "qorl_inference/gemini_batch.hpp"

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <list>
#include <map>
#include <sstream>

#include "clients/aws/sigv4.hpp"
#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/common/secret_text.hpp"
#include "clients/common/url.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/gemini_files.hpp"
#include "qorl_inference/http_exchange.hpp"

namespace qorl_inference {
namespace {

namespace asio = boost::asio;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultBaseUrl = "https://generativelanguage.googleapis.com";
constexpr const char* kApiVersion = "v1beta";
constexpr const char* kBatchInputType = "application/jsonl";

std::string env_or_empty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string json_string(const std::string& text) { return json(text).dump(); }

bool is_final(const std::string& state) {
  return state == "BATCH_STATE_SUCCEEDED" || state == "BATCH_STATE_FAILED" ||
         state == "BATCH_STATE_CANCELLED" || state == "BATCH_STATE_EXPIRED";
}

// The service's message of a google.rpc.Status.
std::string status_message(const json& status) {
  std::string message = clients::common::field_or<std::string>(status, "message");
  if (message.empty()) message = status.dump();
  return message;
}

}  // namespace

// One conversion waiting for its answer.
struct Waiter {
  asio::steady_timer* timer;
  std::optional<std::string> answer{};
  std::exception_ptr error{};
  bool done = false;
};

struct Job {
  std::string name;  // empty until submitted
  // Every key of the batch, with the conversions that wait for its answer.
  std::map<std::string, std::list<Waiter*>> waiters;
  std::vector<std::pair<std::string, std::string>> requests;  // key, JSON; empty when resumed
  asio::cancellation_signal stop;
  bool stopping = false;
  bool overdue = false;        // the polling deadline passed
  bool still_running = false;  // detached: its state was read once and it had not finished
};

struct GeminiBatcher::State : std::enable_shared_from_this<GeminiBatcher::State> {
  asio::any_io_executor executor;
  GeminiBatcherOptions options;
  ExchangePolicy policy;
  std::shared_ptr<Job> pending = std::make_shared<Job>();
  std::map<std::string, std::shared_ptr<Job>> resumed;  // by key
  // Answers of resumed batches that came before anyone asked for them (the run has fewer
  // conversions in flight than the batch has requests), by key.
  std::map<std::string, std::pair<std::optional<std::string>, std::exception_ptr>> unclaimed;
  std::vector<std::shared_ptr<Job>> running;
  Clock::time_point last_request{};
  bool lingering = false;
  int submitted = 0;

  std::string url(const std::string& path) const {
    return options.base_url + "/" + kApiVersion + "/" + path;
  }
  clients::http::Request request(std::string method, const std::string& path) const {
    clients::http::Request request;
    request.method = std::move(method);
    request.url = url(path);
    request.headers = {{"x-goog-api-key", options.api_key}, {"Content-Type", "application/json"}};
    return request;
  }
  GeminiFiles files() const {
    return GeminiFiles(nullptr, {options.base_url, options.api_key, policy,
                                 std::chrono::milliseconds(500), std::chrono::minutes(10)});
  }

  asio::awaitable<json> call(clients::http::Request request, std::string what) const {
    const auto response = co_await send_with_retries(nullptr, std::move(request), policy, what);
    if (!response.ok()) throw_status_error(response, policy, what);
    const auto body = clients::common::parse_json_or_discarded(response.body, "Gemini");
    if (!body.is_object())
      throw BaseInvokerError("Gemini " + what + " returned an unreadable answer");
    co_return body;
  }

  void settle(Job& job, const std::string& key, std::optional<std::string> answer,
              std::exception_ptr error) {
    const auto found = job.waiters.find(key);
    if (found == job.waiters.end()) {
      unclaimed[key] = {std::move(answer), std::move(error)};
      return;
    }
    for (Waiter* waiter : found->second) {
      waiter->answer = answer;
      waiter->error = error;
      waiter->done = true;
      waiter->timer->cancel();
    }
    job.waiters.erase(found);
  }

  void fail_all(Job& job, const std::exception_ptr& error) {
    while (!job.waiters.empty()) settle(job, job.waiters.begin()->first, std::nullopt, error);
  }

  // The inline submission, or the file one when the batch is larger than the inline limit.
  // By reference: `job` and `input_file` live in the frame of run(), which awaits this.
  asio::awaitable<std::string> submit(Job& job, std::optional<GeminiFile>& input_file) {
    std::size_t size = 0;
    for (const auto& [key, request] : job.requests) size += request.size() + key.size() + 64;
    const std::string display_name = "qorl-batch-" + std::to_string(++submitted);
    std::string body =
        "{\"batch\":{\"displayName\":" + json_string(display_name) + ",\"inputConfig\":";
    if (size <= options.inline_limit) {
      body += "{\"requests\":{\"requests\":[";
      for (std::size_t i = 0; i < job.requests.size(); ++i) {
        if (i) body += ',';
        body += "{\"request\":" + job.requests[i].second +
                ",\"metadata\":{\"key\":" + json_string(job.requests[i].first) + "}}";
      }
      body += "]}}}}";
    } else {
      std::string lines;
      lines.reserve(size);
      for (const auto& [key, request] : job.requests)
        lines += "{\"key\":" + json_string(key) + ",\"request\":" + request + "}\n";
      auto attachment =
          Attachment::from_bytes(qorl_core::Bytes(std::move(lines)), display_name + ".jsonl");
      attachment->mime_type = kBatchInputType;
      auto uploader = files();
      input_file = co_await uploader.upload(attachment);
      input_file = co_await uploader.wait_until_active(*input_file);
      body += "{\"fileName\":" + json_string(input_file->name) + "}}}";
    }
    auto submission = request("POST", "models/" + clients::http::url_encode(options.model_name) +
                                          ":batchGenerateContent");
    submission.body = std::move(body);
    const json operation = co_await call(std::move(submission), "batchGenerateContent");
    std::string name = clients::common::field_or<std::string>(operation, "name");
    if (name.empty())
      name = clients::common::field_or<std::string>(operation, {"metadata", "name"});
    if (name.empty()) throw BaseInvokerError("Gemini batchGenerateContent returned no batch name");
    co_return name;
  }

  // Hands each answer of a finished batch to the requests waiting for its key. `job` is kept
  // alive by run(), which awaits this through poll().
  asio::awaitable<void> deliver(Job& job, json operation) {
    // The finished batch's output, as the operation's response or in its metadata.
    json output = operation.contains("response") ? operation["response"] : json::object();
    if (!output.contains("inlinedResponses") && !output.contains("responsesFile")) {
      output = operation.value("metadata", json::object()).value("output", json::object());
    }
    auto settle_line = [&](const std::string& key, const json& line) {
      if (line.contains("response") && line["response"].is_object()) {
        settle(job, key, line["response"].dump(), nullptr);
      } else {
        const std::string message =
            line.contains("error") ? status_message(line["error"]) : "no answer";
        settle(job, key, std::nullopt,
               std::make_exception_ptr(BaseInvokerError("Gemini batch " + job.name +
                                                        " failed this request: " + message)));
      }
    };
    if (const auto inlined = output.find("inlinedResponses"); inlined != output.end()) {
      const json& list =
          inlined->is_object() ? inlined->value("inlinedResponses", json::array()) : *inlined;
      for (const auto& line : list) {
        settle_line(clients::common::field_or<std::string>(line, {"metadata", "key"}), line);
      }
    } else if (const auto file = output.find("responsesFile");
               file != output.end() && file->is_string()) {
      const std::string lines = co_await files().download(file->get<std::string>());
      std::istringstream stream(lines);
      for (std::string text; std::getline(stream, text);) {
        if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
        const auto line = clients::common::parse_json_or_discarded(text, "Gemini");
        if (!line.is_object()) continue;
        settle_line(clients::common::field_or<std::string>(line, "key"), line);
      }
    }
    fail_all(job, std::make_exception_ptr(BaseInvokerError(
                      "Gemini batch " + job.name + " returned no answer for this request")));
  }

  // Reads the batch's state until it has finished, or only once when `once`: then the requests
  // of a batch still running are handed back with BatchPending. `job` is kept alive by run(),
  // which awaits this.
  asio::awaitable<void> poll(Job& job, bool once) {
    const auto deadline = Clock::now() + options.polling.deadline;
    auto interval = options.polling.initial_interval;
    asio::steady_timer timer(executor);
    for (;;) {
      json operation = co_await call(request("GET", job.name), "batch poll");
      const json& metadata = operation.value("metadata", json::object());
      std::string state = clients::common::field_or<std::string>(metadata, "state");
      if (state.empty()) state = clients::common::field_or<std::string>(operation, "state");
      if (state == "BATCH_STATE_SUCCEEDED") {
        co_await deliver(job, std::move(operation));
        co_return;
      }
      if (is_final(state)) {
        std::string reason = "Gemini batch " + job.name + " ended " + state;
        if (operation.contains("error")) reason += ": " + status_message(operation["error"]);
        throw BaseInvokerError(reason);
      }
      if (once) {
        job.still_running = true;
        while (!job.waiters.empty()) {
          const std::string key = job.waiters.begin()->first;
          settle(job, key, std::nullopt, std::make_exception_ptr(BatchPending(job.name)));
        }
        co_return;
      }
      if (Clock::now() + interval > deadline) {
        job.overdue = true;
        throw BaseInvokerError("Gemini batch " + job.name +
                               " was not finished within the polling deadline");
      }
      timer.expires_after(interval);
      co_await timer.async_wait(asio::use_awaitable);
      interval =
          std::min(options.polling.max_interval,
                   std::chrono::ceil<std::chrono::milliseconds>(interval * options.polling.growth));
    }
  }

  // Best effort, once: the batch stops costing, and leaves the list of the key's batches.
  asio::awaitable<void> cancel_and_delete(std::string name) {
    for (auto [method, path] :
         {std::pair<std::string, std::string>{"POST", name + ":cancel"}, {"DELETE", name}}) {
      try {
        co_await call(request(method, path), "batch cancellation");
      } catch (const std::exception& error) {
        if (policy.logger)
          policy.logger->warning("Could not remove Gemini batch %s: %s", name, error.what());
      }
    }
    if (options.on_cancelled) options.on_cancelled(name);
  }

  // Submits (unless resumed), polls and delivers one batch; on cancellation cancels it remotely.
  asio::awaitable<void> run(std::shared_ptr<State> self, std::shared_ptr<Job> job) {
    std::optional<GeminiFile> input_file;
    std::exception_ptr failure;
    try {
      if (job->name.empty()) {
        job->name = co_await submit(*job, input_file);
        std::vector<std::string> keys;
        for (const auto& [key, request] : job->requests) keys.push_back(key);
        job->requests.clear();
        if (options.on_submitted) options.on_submitted(job->name, keys);
      }
      co_await poll(*job, options.detach);
    } catch (...) {
      failure = std::current_exception();
    }
    const asio::cancellation_state cancellation = co_await asio::this_coro::cancellation_state;
    const bool cancelled = cancellation.cancelled() != asio::cancellation_type::none;
    if (cancelled) co_await asio::this_coro::reset_cancellation_state();
    // A batch nobody waits for, or given up on, is not left running; one whose polls failed is
    // left for a rerun to resume.
    if ((cancelled || job->overdue) && !job->name.empty()) co_await cancel_and_delete(job->name);
    if (input_file) co_await files().remove(*input_file);
    if (failure) fail_all(*job, failure);
    std::erase(running, job);
    // A detached batch still running keeps its keys: they are handed back without asking again.
    for (auto it = resumed.begin(); it != resumed.end() && !job->still_running;) {
      it = it->second == job ? resumed.erase(it) : std::next(it);
    }
    (void)self;
  }

  void start(std::shared_ptr<Job> job) {
    running.push_back(job);
    asio::co_spawn(executor, run(shared_from_this(), job),
                   asio::bind_cancellation_slot(job->stop.slot(), asio::detached));
  }

  void flush() {
    if (pending->requests.empty()) return;
    auto job = std::exchange(pending, std::make_shared<Job>());
    start(std::move(job));
  }

  asio::awaitable<void> linger(std::shared_ptr<State> self) {
    asio::steady_timer timer(executor);
    while (Clock::now() < last_request + options.linger) {
      timer.expires_at(last_request + options.linger);
      co_await timer.async_wait(asio::use_awaitable);
    }
    lingering = false;
    flush();
    (void)self;
  }

  // Takes a cancelled conversion out; a batch nobody waits for any more is stopped.
  void leave(Waiter* waiter) {
    auto remove_from = [&](Job& job) {
      for (auto it = job.waiters.begin(); it != job.waiters.end(); ++it) {
        auto& list = it->second;
        if (std::find(list.begin(), list.end(), waiter) == list.end()) continue;
        list.remove(waiter);
        if (list.empty()) {
          std::erase_if(job.requests,
                        [&](const auto& request) { return request.first == it->first; });
          job.waiters.erase(it);
        }
        return true;
      }
      return false;
    };
    if (remove_from(*pending)) return;
    for (const auto& job : running) {
      if (!remove_from(*job)) continue;
      if (job->waiters.empty() && !job->stopping) {
        job->stopping = true;
        job->stop.emit(asio::cancellation_type::terminal);
      }
      return;
    }
  }
};

GeminiBatcher::GeminiBatcher(asio::any_io_executor executor, GeminiBatcherOptions options)
    : state_(std::make_shared<State>()) {
  if (options.model_name.rfind("models/", 0) == 0) options.model_name.erase(0, 7);
  if (options.model_name.empty()) throw qorl_core::ValueError("GeminiBatcher needs a model name");
  if (options.api_key.empty()) options.api_key = env_or_empty("GEMINI_API_KEY");
  if (options.api_key.empty()) options.api_key = env_or_empty("GOOGLE_API_KEY");
  clients::common::check_credential(options.api_key, "The Gemini API key");
  options.base_url = clients::common::resolve_base_url(options.base_url, {"GOOGLE_GEMINI_BASE_URL"},
                                                       kDefaultBaseUrl);
  options.max_requests = std::max<std::size_t>(options.max_requests, 1);
  state_->executor = std::move(executor);
  state_->policy = {"Gemini",
                    options.retry_config,
                    options.backoff,
                    {options.api_key},
                    qorl_core::LoggerManager().get_logger("GeminiBatcher"),
                    nullptr};
  state_->options = std::move(options);
}

std::shared_ptr<GeminiBatcher> GeminiBatcher::create(asio::any_io_executor executor,
                                                     GeminiBatcherOptions options) {
  return std::shared_ptr<GeminiBatcher>(new GeminiBatcher(std::move(executor), std::move(options)));
}

GeminiBatcher::~GeminiBatcher() {
  for (const auto& job : state_->running) job->stop.emit(asio::cancellation_type::terminal);
}

std::string GeminiBatcher::request_key(std::string_view request_json) {
  return clients::aws::sha256_hex(request_json).substr(0, 32);
}

const std::string& GeminiBatcher::model_name() const noexcept { return state_->options.model_name; }

void GeminiBatcher::flush() { state_->flush(); }

void GeminiBatcher::resume(const std::string& batch_name, const std::vector<std::string>& keys) {
  auto job = std::make_shared<Job>();
  job->name = batch_name;
  for (const auto& key : keys) state_->resumed[key] = job;
}

asio::awaitable<std::string> GeminiBatcher::generate(std::string request_json,
                                                     std::string key_material) {
  const std::shared_ptr<State> keep = state_;
  State& state = *keep;
  const std::string key = request_key(key_material.empty() ? request_json : key_material);
  asio::steady_timer timer(state.executor, Clock::time_point::max());
  Waiter waiter{&timer};
  if (auto early = state.unclaimed.extract(key)) {
    if (early.mapped().second) std::rethrow_exception(early.mapped().second);
    co_return std::move(*early.mapped().first);
  }
  if (const auto resumed = state.resumed.find(key); resumed != state.resumed.end()) {
    const auto job = resumed->second;
    if (job->still_running) throw BatchPending(job->name);
    job->waiters[key].push_back(&waiter);
    if (std::find(state.running.begin(), state.running.end(), job) == state.running.end()) {
      state.start(job);
    }
  } else {
    auto& waiting = state.pending->waiters[key];
    if (waiting.empty()) state.pending->requests.emplace_back(key, std::move(request_json));
    waiting.push_back(&waiter);
    state.last_request = Clock::now();
    if (state.pending->requests.size() >= state.options.max_requests) {
      state.flush();
    } else if (!state.lingering) {
      state.lingering = true;
      asio::co_spawn(state.executor, state.linger(state_), asio::detached);
    }
  }
  while (!waiter.done) {
    boost::system::error_code ec;
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
    if (waiter.done) break;
    if (ec == asio::error::operation_aborted) {
      state.leave(&waiter);
      throw boost::system::system_error(ec);
    }
  }
  if (waiter.error) std::rethrow_exception(waiter.error);
  co_return std::move(*waiter.answer);
}

}  // namespace qorl_inference

namespace qorl_inference {

GeminiBatchRegistry::GeminiBatchRegistry(asio::any_io_executor executor,
                                         GeminiBatcherOptions defaults)
    : executor_(std::move(executor)), defaults_(std::move(defaults)) {}

std::shared_ptr<GeminiBatcher> GeminiBatchRegistry::batcher_for(const std::string& model_name,
                                                                const std::string& api_key,
                                                                const std::string& base_url) {
  const std::lock_guard lock(mutex_);
  auto& batcher = batchers_[{model_name, api_key, base_url}];
  if (!batcher) {
    GeminiBatcherOptions options = defaults_;
    options.model_name = model_name;
    options.api_key = api_key;
    options.base_url = base_url;
    batcher = GeminiBatcher::create(executor_, std::move(options));
    for (const auto& [name, keys] : resumed_) batcher->resume(name, keys);
  }
  return batcher;
}

void GeminiBatchRegistry::resume(const std::string& batch_name,
                                 const std::vector<std::string>& keys) {
  const std::lock_guard lock(mutex_);
  resumed_.emplace_back(batch_name, keys);
  for (const auto& [id, batcher] : batchers_) batcher->resume(batch_name, keys);
}

namespace {
std::mutex default_registry_mutex;
std::shared_ptr<GeminiBatchRegistry> default_registry;
}  // namespace

void set_default_gemini_batching(std::shared_ptr<GeminiBatchRegistry> registry) {
  const std::lock_guard lock(default_registry_mutex);
  default_registry = std::move(registry);
}

std::shared_ptr<GeminiBatchRegistry> default_gemini_batching() {
  const std::lock_guard lock(default_registry_mutex);
  return default_registry;
}

}  // namespace qorl_inference
