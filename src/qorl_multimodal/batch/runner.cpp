#include "qorl_multimodal/batch/runner.hpp"

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/url/parse.hpp>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "qorl_core/base64.hpp"
#include "qorl_core/blocking_work.hpp"
#include "qorl_core/error_cause.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/json.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_core/type_name.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/media_type.hpp"
#include "qorl_multimodal/utils/gdrive_utils.hpp"
#include "qorl_multimodal/utils/s3_utils.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"
#include "qorl_multimodal/utils/youtube_video_id.hpp"

namespace qorl_multimodal::batch::runner {
namespace {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using asio::awaitable;
using asio::use_awaitable;
using manifest::SourceEntry;
using qorl_core::Bytes;
using std::chrono::system_clock;

// The media as read to key it.
struct Media {
  cache_key::MediaDigest digest;
  std::optional<Bytes> bytes{};  // kept for the conversion when downloaded or decoded
  std::string file_name{};
};

bool starts_with_lower(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
           return p == static_cast<char>(std::tolower(static_cast<unsigned char>(t)));
         });
}

// The last component of a URL's path, query and fragment left out.
std::string url_file_name(const std::string& url) {
  std::string path = url;
  if (auto parsed = boost::urls::parse_uri_reference(url)) path = parsed->path();
  return fs::path(path).filename().string();
}

// Strict base64 of something libmagic recognises: a short word or a path is also valid base64,
// but decodes to bytes of no known type.
std::optional<Bytes> decoded_base64_media(const std::string& text) {
  auto decoded = qorl_core::base64_decode(text);
  if (!decoded || decoded->empty()) return std::nullopt;
  const std::string type = qorl_inference::sniff_mime_type(*decoded);
  if (type == "application/octet-stream" || type.rfind("text/", 0) == 0) return std::nullopt;
  return Bytes(std::move(*decoded));
}

// Reads the source once, in the order the converters resolve sources; ValueError when a remote
// source cannot be downloaded.
awaitable<Media> read_media(std::string source, int download_timeout) {
  std::error_code ignored;
  if (fs::is_regular_file(source, ignored)) {
    // Hashing a recording takes a while: off the loop when a pool is set.
    cache_key::MediaDigest digest =
        co_await qorl_core::run_blocking([&source] { return cache_key::digest_file(source); });
    co_return Media{std::move(digest)};
  }
  if (auto video = utils::youtube_video_id::youtube_video_id(source)) {
    co_return Media{cache_key::youtube_video(*video)};
  }
  utils::source_utils::Fetched download;
  if (utils::gdrive_utils::_extract_gdrive_file_id(source)) {
    download = co_await utils::gdrive_utils::fetch_gdrive(source);
  } else if (starts_with_lower(source, "http://") || starts_with_lower(source, "https://")) {
    download = co_await utils::source_utils::fetch_url(source, download_timeout);
  } else if (starts_with_lower(source, "s3://")) {
    download = co_await utils::s3_utils::fetch_s3(source);
  } else if (auto decoded = decoded_base64_media(source)) {
    auto digest = cache_key::digest_bytes(decoded->view());
    co_return Media{std::move(digest), std::move(decoded)};
  } else {
    // Nothing to read: keyed by the text, the conversion says why it is no source.
    co_return Media{cache_key::digest_bytes(source)};
  }
  if (!download.bytes) {
    qorl_core::throw_with_cause(
        qorl_core::ValueError("Could not download " + qorl_core::redaction::redact_url(source)),
        download.failure);
  }
  auto digest = cache_key::digest_bytes(download.bytes->view());
  co_return Media{std::move(digest), std::move(download.bytes), url_file_name(source)};
}

// The exception's own type name; for one thrown with std::throw_with_nested, the wrapped type's.
std::string error_kind(const std::exception& error) {
  const std::string name = qorl_core::simple_type_name(typeid(error));
  if (name != "_Nested_exception") return name;
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> full(
      abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status), &std::free);
  if (status != 0 || full == nullptr) return name;
  std::string wrapped(full.get());  // "std::_Nested_exception<ns::ValueError>"
  const auto open = wrapped.find('<');
  const auto close = wrapped.rfind('>');
  if (open == std::string::npos || close == std::string::npos || close < open) return name;
  wrapped = wrapped.substr(open + 1, close - open - 1);
  if (auto scope = wrapped.rfind("::"); scope != std::string::npos) wrapped.erase(0, scope + 2);
  return wrapped;
}

// The record as the store keeps it; text that is not UTF-8 is stored with replacement characters
// rather than losing a paid result.
std::string record_json(const qorl_core::Value& record) {
  return qorl_core::to_ordered_json(record).dump(-1, ' ', false,
                                                 nlohmann::json::error_handler_t::replace);
}

bool is_cancellation(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return qorl_core::is_cancellation(e);
  } catch (...) {
    return false;
  }
}

// Read with `co_await asio::this_coro::cancellation_state`, never through a nested awaitable:
// awaiting one throws once the coroutine is cancelled.
bool is_cancelled(const asio::cancellation_state& state) {
  return state.cancelled() != asio::cancellation_type::none;
}

// Every Gemini invoker sends through the registry while this lives.
class DefaultBatching {
 public:
  explicit DefaultBatching(std::shared_ptr<qorl_inference::GeminiBatchRegistry> registry)
      : active_(registry != nullptr) {
    if (active_) qorl_inference::set_default_gemini_batching(std::move(registry));
  }
  ~DefaultBatching() {
    if (active_) qorl_inference::set_default_gemini_batching(nullptr);
  }
  DefaultBatching(const DefaultBatching&) = delete;
  DefaultBatching& operator=(const DefaultBatching&) = delete;

 private:
  bool active_;
};

// A source taken from the stream, read and keyed, or put aside while another owner converts it.
struct Pending {
  SourceEntry entry;
  std::optional<ResolvedSource> resolved{};
  std::chrono::steady_clock::time_point retry_at{};
};

class Run {
 public:
  Run(SourceStream sources, ConvertFunction convert, ResultCallback on_result, RunOptions options)
      : sources_(std::move(sources)),
        convert_(std::move(convert)),
        on_result_(std::move(on_result)),
        options_(std::move(options)) {}

  awaitable<usage::RunSummary> run();

 private:
  bool batch_mode() const { return options_.gemini_batch.has_value(); }
  // The run's batch mode, tied to its store; none without one.
  std::shared_ptr<qorl_inference::GeminiBatchRegistry> make_batching(
      const asio::any_io_executor& executor);
  bool stopping() const {
    return cancelled_ || fatal_ || summary_.quota_exhausted ||
           (options_.control != nullptr && options_.control->stopping());
  }
  // A quota ran out: nothing new starts, and the source is left unstored for a rerun.
  bool stop_for_quota(const std::exception_ptr& failure);
  // The request waits in a detached batch job: a rerun collects it.
  static bool left_in_batch(const std::exception_ptr& failure, Result& result);
  std::optional<Pending> next_pending();
  awaitable<void> worker();
  awaitable<void> handle(Pending pending);
  // By reference: `result` (and handle_with_store's `resolved`) live in the frame of handle(),
  // which awaits the three below. False when the source was put aside for a later try.
  awaitable<bool> handle_with_store(ResolvedSource& resolved, Result& result);
  awaitable<void> convert_claimed(ResolvedSource resolved, Result& result);
  awaitable<std::exception_ptr> keep_lease(std::string key);
  awaitable<void> convert_unstored(ResolvedSource resolved, Result& result);
  void report(Result& result);
  static void set_failure(Result& result, Status status, const std::exception_ptr& error);
  static void set_done(Result& result, Conversion conversion);

  SourceStream sources_;
  ConvertFunction convert_;
  ResultCallback on_result_;
  RunOptions options_;
  std::deque<Pending> put_aside_;
  bool stream_ended_ = false;
  bool cancelled_ = false;
  std::exception_ptr fatal_;
  usage::RunSummary summary_;
};

std::optional<Pending> Run::next_pending() {
  if (stopping()) return std::nullopt;
  if (!stream_ended_) {
    if (auto entry = sources_()) return Pending{std::move(*entry)};
    stream_ended_ = true;
  }
  if (put_aside_.empty()) return std::nullopt;
  Pending pending = std::move(put_aside_.front());
  put_aside_.pop_front();
  return pending;
}

awaitable<void> Run::worker() {
  while (auto pending = next_pending()) {
    if (pending->retry_at > std::chrono::steady_clock::now()) {
      asio::steady_timer timer(co_await asio::this_coro::executor, pending->retry_at);
      co_await timer.async_wait(use_awaitable);
      if (stopping()) {
        put_aside_.push_front(std::move(*pending));
        break;
      }
    }
    co_await handle(std::move(*pending));
  }
}

awaitable<void> Run::handle(Pending pending) {
  Result result{.entry = pending.entry, .started_at = system_clock::now()};
  if (!pending.resolved && options_.store == nullptr && !options_.key_unstored) {
    pending.resolved = ResolvedSource{.entry = pending.entry};
  }
  if (!pending.resolved) {
    std::exception_ptr unreadable;
    try {
      Media media = co_await read_media(pending.entry.source, options_.download_timeout_seconds);
      cache_key::Request request = options_.request;
      pending.entry.options.for_each([&](const std::string& name, const qorl_core::Value& value) {
        request.options.set(name, value);
      });
      pending.resolved = ResolvedSource{.entry = pending.entry,
                                        .bytes = std::move(media.bytes),
                                        .file_name = std::move(media.file_name),
                                        .key = cache_key::compute_key(media.digest, request)};
    } catch (const std::exception&) {
      unreadable = std::current_exception();
    }
    if (unreadable) {
      const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
      if (is_cancelled(state)) std::rethrow_exception(unreadable);
      set_failure(result, Status::failed, unreadable);
      report(result);
      co_return;
    }
  }
  result.key = pending.resolved->key;
  if (options_.store == nullptr && result.key && options_.known_outcome) {
    if (auto known = options_.known_outcome(*result.key);
        known == Status::cached || known == Status::skipped) {
      result.status = *known;
      report(result);
      co_return;
    }
  }
  if (options_.store == nullptr) {
    co_await convert_unstored(std::move(*pending.resolved), result);
    co_return;
  }
  const bool finished = co_await handle_with_store(*pending.resolved, result);
  if (!finished) {
    // Kept with its bytes: a download is not repeated when the other owner's claim lapses.
    pending.retry_at = std::chrono::steady_clock::now() + options_.busy_poll;
    put_aside_.push_back(std::move(pending));
  }
}

awaitable<bool> Run::handle_with_store(ResolvedSource& resolved, Result& result) {
  store::Store& store = *options_.store;
  const std::string& key = *resolved.key;
  switch (
      store.claim(key, resolved.entry.source, resolved.entry.id, options_.lease, options_.redo)) {
    case store::ClaimResult::busy: co_return false;
    case store::ClaimResult::done: {
      const auto row = store.lookup(key);
      result.status = Status::cached;
      result.record =
          qorl_core::from_ordered_json(nlohmann::ordered_json::parse(*row->result_json));
      result.attempts = row->attempts;
      report(result);
      co_return true;
    }
    case store::ClaimResult::failed: {
      const auto row = store.lookup(key);
      result.status = Status::skipped;
      result.error = row->error;
      result.error_kind = row->error_kind;
      result.attempts = row->attempts;
      report(result);
      co_return true;
    }
    case store::ClaimResult::claimed: break;
  }
  co_await convert_claimed(std::move(resolved), result);
  co_return true;
}

awaitable<std::exception_ptr> Run::keep_lease(std::string key) {
  asio::steady_timer timer(co_await asio::this_coro::executor);
  const auto every =
      std::max<std::chrono::milliseconds>(options_.lease / 3, std::chrono::seconds(1));
  for (;;) {
    timer.expires_after(every);
    co_await timer.async_wait(use_awaitable);
    try {
      if (!options_.store->renew(key, options_.lease)) co_return nullptr;
    } catch (const std::exception&) {
      co_return std::current_exception();
    }
  }
}

awaitable<void> Run::convert_claimed(ResolvedSource resolved, Result& result) {
  store::Store& store = *options_.store;
  const std::string key = *resolved.key;
  const auto executor = co_await asio::this_coro::executor;
  // Whichever ends first cancels the other: the conversion, or the lease lost (or the store
  // failing to renew it).
  auto race = asio::experimental::make_parallel_group(
      asio::co_spawn(executor, convert_(std::move(resolved)), asio::deferred),
      asio::co_spawn(executor, keep_lease(key), asio::deferred));
  auto waiting = race.async_wait(asio::experimental::wait_for_one(), use_awaitable);
  auto ended = co_await std::move(waiting);
  auto& [order, failure, conversion, lease_error, lease_outcome] = ended;
  const bool lease_ended_first = order[0] == 1;
  std::string record_text;
  if (!failure && !lease_ended_first) {
    try {
      record_text = record_json(conversion.record);
    } catch (const std::exception&) {
      failure = std::current_exception();
    }
  }
  const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
  if (failure && is_cancelled(state)) {
    store.release(key);
    std::rethrow_exception(failure);
  }
  if (lease_ended_first && (lease_outcome || lease_error)) {
    std::rethrow_exception(lease_outcome ? lease_outcome : lease_error);  // the store failed
  } else if (lease_ended_first) {
    // The lease lapsed (the loop was held up longer than it) and another owner took the key.
    result.status = Status::skipped;
    result.error = "The claim lapsed and another owner is converting this source";
    result.error_kind = "ClaimLost";
    report(result);
    co_return;
  } else if (left_in_batch(failure, result)) {
    store.set_batch_job(key, *result.batch_name);
    store.release(key);
  } else if (failure) {
    set_failure(result, Status::failed, failure);
    result.quota_exhausted = stop_for_quota(failure);
    if (result.quota_exhausted) {
      store.release(key);
    } else {
      store.fail(key, *result.error, *result.error_kind, store::Finish{.batch = batch_mode()});
    }
  } else {
    store.complete(key, record_text,
                   store::Finish{.usage = conversion.usage, .batch = batch_mode()});
    set_done(result, std::move(conversion));
  }
  if (const auto row = store.lookup(key)) result.attempts = row->attempts;
  report(result);
}

awaitable<void> Run::convert_unstored(ResolvedSource resolved, Result& result) {
  std::exception_ptr failure;
  try {
    Conversion conversion = co_await convert_(std::move(resolved));
    set_done(result, std::move(conversion));
  } catch (const std::exception&) {
    failure = std::current_exception();
  }
  if (failure) {
    const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
    if (is_cancelled(state)) std::rethrow_exception(failure);
    if (!left_in_batch(failure, result)) {
      set_failure(result, Status::failed, failure);
      result.quota_exhausted = stop_for_quota(failure);
    }
  }
  result.attempts = 1;
  report(result);
}

bool Run::stop_for_quota(const std::exception_ptr& failure) {
  const auto quota = qorl_core::find_cause<qorl_inference::QuotaExhausted>(failure);
  if (!quota) return false;
  if (!summary_.quota_exhausted) summary_.quota_exhausted = quota->what();
  return true;
}

bool Run::left_in_batch(const std::exception_ptr& failure, Result& result) {
  const auto pending = qorl_core::find_cause<qorl_inference::BatchPending>(failure);
  if (!pending) return false;
  result.status = Status::pending;
  result.batch_name = pending->batch_name();
  return true;
}

void Run::set_done(Result& result, Conversion conversion) {
  result.status = Status::done;
  result.record = std::move(conversion.record);
  result.usage = conversion.usage;
  result.warnings = std::move(conversion.warnings);
  result.via = std::move(conversion.via);
}

void Run::set_failure(Result& result, Status status, const std::exception_ptr& error) {
  result.status = status;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    result.error = qorl_core::describe(e);
    result.error_kind = error_kind(e);
  }
}

void Run::report(Result& result) {
  result.finished_at = system_clock::now();
  switch (result.status) {
    case Status::cached: ++summary_.from_store; [[fallthrough]];
    case Status::done: ++summary_.done; break;
    case Status::failed: ++summary_.failed; break;
    case Status::skipped: ++summary_.skipped; break;
    case Status::pending: ++summary_.pending; break;
  }
  summary_.usage += result.usage;
  if (on_result_) on_result_(result);
}

std::shared_ptr<qorl_inference::GeminiBatchRegistry> Run::make_batching(
    const asio::any_io_executor& executor) {
  if (!batch_mode()) return nullptr;
  qorl_inference::GeminiBatcherOptions defaults = *options_.gemini_batch;
  if (store::Store* store = options_.store) {
    // Kept as soon as submitted: a run killed before its batch finished is collected by the next.
    defaults.on_submitted = [store](const std::string& name, const std::vector<std::string>& keys) {
      store->add_batch_job(name, keys);
    };
    defaults.on_cancelled = [store](const std::string& name) { store->remove_batch_job(name); };
  }
  auto registry = std::make_shared<qorl_inference::GeminiBatchRegistry>(executor, defaults);
  if (options_.store != nullptr) {
    for (const auto& [name, keys] : options_.store->batch_jobs()) registry->resume(name, keys);
  }
  return registry;
}

awaitable<usage::RunSummary> Run::run() {
  const auto started = std::chrono::steady_clock::now();
  const auto executor = co_await asio::this_coro::executor;
  const DefaultBatching batching(make_batching(executor));
  const std::size_t jobs = std::max<std::size_t>(options_.jobs, 1);
  std::vector<asio::cancellation_signal> signals(jobs);
  std::size_t running = jobs;
  asio::steady_timer all_ended(executor, asio::steady_timer::time_point::max());
  for (auto& signal : signals) {
    asio::co_spawn(executor, worker(),
                   asio::bind_cancellation_slot(signal.slot(), [&](std::exception_ptr error) {
                     if (error && !is_cancellation(error) && !fatal_) fatal_ = error;
                     if (--running == 0) all_ended.cancel();
                   }));
  }
  while (running > 0) {
    boost::system::error_code ignored;
    co_await all_ended.async_wait(asio::redirect_error(use_awaitable, ignored));
    const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
    if (running > 0 && !cancelled_ && is_cancelled(state)) {
      // Cancelled: the workers end their conversions and release their claims; wait for them.
      cancelled_ = true;
      co_await asio::this_coro::reset_cancellation_state();
      for (auto& signal : signals) signal.emit(asio::cancellation_type::terminal);
    }
  }
  const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
  if (cancelled_ || is_cancelled(state)) {
    throw boost::system::system_error(asio::error::operation_aborted);
  }
  if (fatal_) std::rethrow_exception(fatal_);
  summary_.elapsed = std::chrono::steady_clock::now() - started;
  summary_.batch_mode = batch_mode();
  summary_.stopped_early = stopping() && !(stream_ended_ && put_aside_.empty());
  co_return summary_;
}

}  // namespace

qorl_core::Value ResolvedSource::media() const {
  if (bytes) return *bytes;
  return entry.source;
}

std::string_view status_name(Status status) {
  switch (status) {
    case Status::done: return "done";
    case Status::cached: return "cached";
    case Status::failed: return "failed";
    case Status::skipped: return "skipped";
    case Status::pending: return "pending";
  }
  return {};
}

SourceStream stream_of(const std::vector<manifest::SourceEntry>& entries) {
  return [&entries, next = std::size_t{0}]() mutable -> std::optional<manifest::SourceEntry> {
    if (next == entries.size()) return std::nullopt;
    return entries[next++];
  };
}

awaitable<usage::RunSummary> run(SourceStream sources, ConvertFunction convert,
                                 ResultCallback on_result, RunOptions options) {
  Run state(std::move(sources), std::move(convert), std::move(on_result), std::move(options));
  co_return co_await state.run();
}

}  // namespace qorl_multimodal::batch::runner
