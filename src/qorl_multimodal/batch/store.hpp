// The results store of corpus runs: one SQLite file that keeps each conversion's outcome under its
// cache key, so that a run interrupted at any point (a crash, kill -9) or run again after files
// were added never pays twice for the same conversion, and two processes sharing the store never
// convert the same key at the same time.
//
// A conversion goes: lookup(key) -> nothing stored -> claim(key, ...) -> claimed -> convert,
// renew() the lease while it runs -> complete() or fail() (committed on return: print afterwards),
// or release() when it was cancelled. The file is in WAL mode with synchronous=NORMAL: a commit
// survives the process being killed at any point, and the file is never corrupted; a power loss
// or an OS crash may undo the last commits (those sources are converted again). Syncing every
// commit (FULL) costs a disk flush per claim and per result on the loop, which at 64 conversions
// in flight halved a run's throughput.
// Several threads may share one Store; each call is its own transaction.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "qorl_core/errors.hpp"
#include "qorl_multimodal/batch/usage.hpp"

namespace qorl_multimodal::batch::store {

// The schema version this build writes (SQLite's user_version). A store of a newer version is
// refused untouched; an older one is migrated step by step when opened for writing.
inline constexpr int STORE_VERSION = 2;

// A failure of the store itself, as one line naming the file.
class StoreError : public qorl_core::Error {
 public:
  enum class Reason {
    not_a_store,    // not an SQLite database, or another program's
    newer_version,  // made by a newer version of this tool
    read_only,      // the file or its folder cannot be written
    disk_full,
    damaged,  // an SQLite database with a malformed page
    busy,     // another process held the file longer than the busy timeout
    other,
  };
  StoreError(Reason reason, const std::string& message) : Error(message), reason_(reason) {}
  Reason reason() const noexcept { return reason_; }

 private:
  Reason reason_;
};

enum class Status { pending, done, failed };

// One stored conversion.
struct Row {
  std::string key;
  std::string source;  // the latest source claimed under this key
  std::optional<std::string> id;
  Status status = Status::pending;
  std::optional<std::string> result_json;  // when done: the record as the command's --json has it
  std::optional<std::string> error;        // when failed (kept when a refresh of a done row fails)
  std::optional<std::string> error_kind;
  usage::Usage usage;  // summed over every attempt: what the key has cost so far
  std::optional<std::chrono::system_clock::time_point> started_at;  // of the latest claim
  std::optional<std::chrono::system_clock::time_point> finished_at;
  std::int64_t attempts = 0;  // claims taken
  std::string tool_version;
  bool batch = false;                     // converted through a service's batch mode
  std::optional<std::string> batch_name;  // the remote batch job, for a later resume
};

// What claim() did.
enum class ClaimResult {
  claimed,  // the caller converts the key and then completes, fails or releases it
  busy,     // another owner holds a live claim: leave the key to it
  done,     // already converted (and not refreshed): lookup() has the result
  failed,   // already failed (and not retried): lookup() has the error
};

// Which stored outcomes a claim converts again.
enum class Redo {
  nothing,     // only keys without an outcome
  failed,      // also keys that failed (--retry-failed)
  everything,  // also keys that are done (--refresh)
};

// The details of an outcome besides its result or error.
struct Finish {
  usage::Usage usage{};
  bool batch = false;
  std::optional<std::string> batch_name{};  // kept from set_batch_job when not given
};

struct ModeTotals {
  std::int64_t done = 0;
  std::int64_t failed = 0;
  usage::Usage usage{};
};

struct Totals {
  ModeTotals direct;             // converted one request at a time
  ModeTotals batch;              // converted through a batch mode
  std::int64_t in_progress = 0;  // keys under a live claim
  std::int64_t interrupted = 0;  // claimed, never finished, and the claim has lapsed
  std::int64_t in_batch = 0;     // waiting in a remote batch job, no claim held

  std::int64_t done() const { return direct.done + batch.done; }
  std::int64_t failed() const { return direct.failed + batch.failed; }
  usage::Usage usage() const { return direct.usage + batch.usage; }
};

class Store {
 public:
  struct Options {
    std::string tool_version;  // recorded with every outcome
    // Reading only (totals, export, lookups): never writes, refuses claims and outcomes.
    bool read_only = false;
    // How long a call waits for another process's transaction before StoreError(busy).
    std::chrono::milliseconds busy_timeout{std::chrono::seconds(30)};
    // The clock of leases and times; leases are compared across processes, so wall time.
    std::function<std::chrono::system_clock::time_point()> clock = [] {
      return std::chrono::system_clock::now();
    };
  };

  // Creates the store at `path` or opens an existing one, migrating an older schema. StoreError,
  // with nothing written to the file, for: a file that is not a store, a store of a newer
  // version, a read-only file or folder (unless `read_only`), a full disk, a damaged file.
  static Store open(const std::filesystem::path& path, Options options);
  static Store open(const std::filesystem::path& path) { return open(path, Options()); }

  ~Store();
  Store(Store&&) noexcept;
  Store& operator=(Store&&) noexcept;

  // The stored outcome of `key` when it is done or failed.
  std::optional<Row> lookup(const std::string& key) const;

  // Claims `key` for a conversion of `source` for `lease`, atomically: at most one live claim per
  // key across every process and thread on the store (a live claim of this store's own is busy
  // too). A lapsed claim (its owner was killed, or stopped renewing) is taken over. Each claim
  // taken counts as an attempt.
  ClaimResult claim(const std::string& key, const std::string& source,
                    const std::optional<std::string>& id, std::chrono::seconds lease,
                    Redo redo = Redo::nothing);
  // Extends this store's claim on `key` to `lease` from now. False when the claim is no longer
  // this store's (it lapsed and another owner took it, or it was finished): stop converting.
  bool renew(const std::string& key, std::chrono::seconds lease);

  // Stores the result (JSON text, kept compact on one line) and ends the claim, durably on return.
  // Stored whoever holds the claim by now: a paid result is never thrown away. KeyError when the
  // key was never claimed; ValueError when `result_json` is not JSON.
  void complete(const std::string& key, std::string_view result_json, const Finish& finish = {});
  // Stores the failure and ends the claim, durably on return. A key that is done stays done (a
  // failed refresh keeps the earlier result); its error is kept beside it. KeyError when the key
  // was never claimed.
  void fail(const std::string& key, std::string_view error, std::string_view error_kind,
            const Finish& finish = {});
  // Gives up this store's claim of a cancelled conversion: nothing is stored, and a key that had
  // no outcome (and is not waiting in a batch job) is forgotten.
  void release(const std::string& key);

  // Records that `key`'s conversion waits in the remote batch job `batch_name` (submitted and
  // left to run): the row is kept, claim or no claim, until its outcome is stored.
  void set_batch_job(const std::string& key, const std::string& batch_name);
  // Records the keys of the requests a remote batch job holds, as soon as it is submitted, so
  // that a later run (after a crash, or a detached one) collects them instead of submitting them
  // again.
  void add_batch_job(const std::string& batch_name, const std::vector<std::string>& request_keys);
  // Every recorded batch job with the keys of its requests.
  std::map<std::string, std::vector<std::string>> batch_jobs() const;
  // Forgets a job that was cancelled: its requests are submitted anew.
  void remove_batch_job(const std::string& batch_name);

  Totals totals() const;
  // Every done row as one JSON line {"source":...,"id":...,"key":...,"result":...}, in the order
  // they finished; returns how many.
  std::int64_t export_results(std::ostream& out) const;
  // Every failed row, in the order they finished.
  std::vector<Row> failures() const;

  const std::filesystem::path& path() const;
  // This store's owner name on claims: "<host>:<pid>:<random token>". A claim whose owner was a
  // process of this host that has ended is taken over at once, without waiting for its lease.
  const std::string& owner() const;

 private:
  struct Impl;
  explicit Store(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace qorl_multimodal::batch::store
