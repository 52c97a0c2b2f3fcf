// Corpus runs on the caller's event loop: sources pulled one at a time from a stream, up to
// `jobs` conversions in flight, each keyed by its media and its request so that a results store
// converts every key once, and each result reported as it finishes.
//
// For each source the runner reads the media once to key it: a local file is hashed in blocks
// (the conversion reads the file itself); a URL, an S3 object or a Drive file is downloaded and
// the bytes are handed to the conversion, so nothing is downloaded twice; a YouTube link is keyed
// by its video id; base64 text by the bytes it decodes to; any other text by itself (the
// conversion then says why it is no source). With a store, the key is looked up and claimed:
// a result found is reported as cached without converting; a stored failure is reported as
// skipped unless `redo` asks for it again; a key another owner is converting (busy) is put
// aside and tried again once the stream is exhausted, every `busy_poll`, until that owner
// finishes it (reported from the store) or its lease lapses (converted here). While a
// conversion runs its lease is renewed; its outcome is stored before it is reported, so
// whatever the caller saw is in the store.
//
// Cancelling the awaitable starts nothing new, cancels the conversions in flight, releases their
// claims and ends with operation_aborted. RunControl::stop_new_work() lets the conversions in
// flight finish and starts nothing new. An error of the run itself (the store failing, the
// stream or the result callback throwing) does the same, then is rethrown. A conversion that
// fails with qorl_inference::QuotaExhausted (itself or as a nested cause) stops new work too: that
// source is reported failed but not stored (its claim is released), and the summary's
// quota_exhausted names the quota, so the caller can exit with EX_TEMPFAIL (75) and a rerun on
// the same store resumes once the quota is back.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <atomic>
#include <chrono>
#include <concepts>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "qorl_core/value.hpp"
#include "qorl_inference/gemini_batch.hpp"
#include "qorl_multimodal/batch/cache_key.hpp"
#include "qorl_multimodal/batch/manifest.hpp"
#include "qorl_multimodal/batch/store.hpp"
#include "qorl_multimodal/batch/usage.hpp"

namespace qorl_multimodal::batch::runner {

// The next source, or none at the end; read only when a conversion slot is free.
using SourceStream = std::function<std::optional<manifest::SourceEntry>()>;

// A stream over `entries`, which must outlive it.
SourceStream stream_of(const std::vector<manifest::SourceEntry>& entries);
// A stream over a manifest reader or a folder walk, which must outlive it.
template <typename Reader>
requires requires(Reader& reader) {
  { reader.next() } -> std::convertible_to<std::optional<manifest::SourceEntry>>;
}
SourceStream stream_of(Reader& reader) {
  return [&reader] { return reader.next(); };
}

// What a conversion is given.
struct ResolvedSource {
  manifest::SourceEntry entry{};            // its per-source options included
  std::optional<qorl_core::Bytes> bytes{};  // the media, when it was downloaded or decoded
  std::string file_name{};                  // of downloaded media ("photo.jpg"); empty otherwise
  std::optional<std::string> key{};         // the cache key, when one was computed

  // What a converter takes as its source: the bytes when there are any, else the source text.
  qorl_core::Value media() const;
};

// What a conversion gives.
struct Conversion {
  qorl_core::Value record{};  // JSON-able: what the command's --json writes as "result"
  usage::Usage usage{};
  // Said of this conversion only, never stored: what was changed to make the record sound, and
  // the route that produced it when the converter chose among several.
  std::vector<std::string> warnings{};
  std::string via{};
};

// Converts one source; failures are exceptions (their nested causes are kept in the error text).
using ConvertFunction = std::function<boost::asio::awaitable<Conversion>(ResolvedSource)>;

enum class Status {
  done,     // converted in this run
  cached,   // taken from the store, nothing converted
  failed,   // the conversion failed in this run, or the source could not be read (no key then,
            // so nothing stored)
  skipped,  // a failure already stored (not retried), or a claim lost to another owner
  pending,  // waits in a detached batch job (stored as such): a rerun collects it
};

// "done", "cached", "failed", "skipped", "pending".
std::string_view status_name(Status status);

struct Result {
  manifest::SourceEntry entry{};
  Status status = Status::done;
  std::optional<std::string> key{};
  qorl_core::Value record{};                // done or cached: the conversion's record
  std::optional<std::string> error{};       // failed or skipped: "message: cause: cause"
  std::optional<std::string> error_kind{};  // the exception's type name ("ValueError")
  // Failed because a quota ran out (QuotaExhausted): not stored, converted again by a rerun.
  bool quota_exhausted = false;
  std::optional<std::string> batch_name{};  // pending: the batch job it waits in
  usage::Usage usage{};  // what this run paid for it (nothing when cached or skipped)
  std::vector<std::string> warnings{};  // done: the conversion's own (see Conversion)
  std::string via{};                    // done: the conversion's route (see Conversion)
  std::int64_t attempts = 0;  // claims taken on the key so far (1 when converted without a store)
  std::chrono::system_clock::time_point started_at{};
  std::chrono::system_clock::time_point finished_at{};
};

// Called on the loop, in the order results finish. A throw ends the run (see above).
using ResultCallback = std::function<void(const Result&)>;

// Shared with whoever may ask the run to stop starting new work (a quota exhausted, SIGINT).
// Safe to call from any thread.
class RunControl {
 public:
  void stop_new_work() noexcept { stop_.store(true); }
  bool stopping() const noexcept { return stop_.load(); }

 private:
  std::atomic<bool> stop_{false};
};

struct RunOptions {
  std::size_t jobs = 8;  // conversions in flight at most (0 is taken as 1)
  // The request every key is made from; each source's own options are merged over its options.
  cache_key::Request request{};
  store::Store* store = nullptr;  // none: nothing looked up or stored
  // Without a store: whether sources are still read and keyed (false: each goes to the conversion
  // as given, unread, with no key).
  bool key_unstored = true;
  // Without a store: the outcome a store elsewhere already has for a key (its owner passes what
  // it holds), so that the source is reported as cached (with no record: the owner has it) or
  // skipped without converting. Nothing, or done or failed, for a key to convert.
  std::function<std::optional<Status>(const std::string& key)> known_outcome{};
  store::Redo redo = store::Redo::nothing;
  std::chrono::seconds lease{300};            // of each claim, renewed every third of it
  std::chrono::milliseconds busy_poll{2000};  // between tries of a key another owner converts
  int download_timeout_seconds = 60;
  RunControl* control = nullptr;  // optional; must outlive the run
  // Set: every Gemini request of the run goes through the batch mode, at half the price (these
  // options, their model, key and endpoint aside, for every model's batcher; detached or
  // waiting). The store keeps each batch job as it is submitted and a rerun resumes it instead
  // of submitting again; it marks these results, and the summary this run, as batch mode. A
  // conversion that fails with qorl_inference::BatchPending (itself or as a nested cause) is
  // reported pending, kept in the store for a rerun to collect.
  std::optional<qorl_inference::GeminiBatcherOptions> gemini_batch{};
};

// The closing counts: done counts cached results, from_store those of them, stopped_early that a
// stop request left sources unread.
boost::asio::awaitable<usage::RunSummary> run(SourceStream sources, ConvertFunction convert,
                                              ResultCallback on_result, RunOptions options);

}  // namespace qorl_multimodal::batch::runner
