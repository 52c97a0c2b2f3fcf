#include "qorl_multimodal/batch/store.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>

#include "qorl_multimodal/batch/sqlite.hpp"

namespace qorl_multimodal::batch::store {

namespace fs = std::filesystem;
using std::chrono::system_clock;

namespace {

// "qorl" in the database header, so another program's SQLite file is never taken for a store.
constexpr std::int64_t kApplicationId = 0x716f726c;

struct Migration {
  int version;
  const char* sql;
};

// Each step brings the schema from the version before it to `version`, inside the migrating
// transaction. Append steps; never edit one that was released.
constexpr Migration kMigrations[] = {
    {1, R"sql(
CREATE TABLE results (
  key TEXT PRIMARY KEY NOT NULL,
  source TEXT NOT NULL,
  source_id TEXT,
  status TEXT NOT NULL DEFAULT 'pending' CHECK (status IN ('pending', 'done', 'failed')),
  result TEXT,
  error TEXT,
  error_kind TEXT,
  input_tokens INTEGER NOT NULL DEFAULT 0,
  output_tokens INTEGER NOT NULL DEFAULT 0,
  total_tokens INTEGER NOT NULL DEFAULT 0,
  audio_seconds REAL NOT NULL DEFAULT 0,
  requests INTEGER NOT NULL DEFAULT 0,
  started_at INTEGER,
  finished_at INTEGER,
  attempts INTEGER NOT NULL DEFAULT 0,
  tool_version TEXT,
  batch INTEGER NOT NULL DEFAULT 0 CHECK (batch IN (0, 1)),
  batch_name TEXT,
  claim_owner TEXT,
  claim_expires_at INTEGER
) WITHOUT ROWID;
CREATE INDEX results_by_status ON results (status, finished_at);
CREATE INDEX results_by_batch_name ON results (batch_name) WHERE batch_name IS NOT NULL;
)sql"},
    // The requests of each remote batch job, which a resume needs.
    {2, R"sql(
CREATE TABLE batch_requests (
  batch_name TEXT NOT NULL,
  request_key TEXT NOT NULL,
  PRIMARY KEY (batch_name, request_key)
) WITHOUT ROWID;
)sql"},
};
static_assert(std::size(kMigrations) == STORE_VERSION, "one migration per store version");

constexpr std::string_view kRowColumns =
    "key, source, source_id, status, result, error, error_kind, input_tokens, output_tokens, "
    "total_tokens, audio_seconds, requests, started_at, finished_at, attempts, tool_version, "
    "batch, batch_name";

std::int64_t milliseconds(system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

std::optional<system_clock::time_point> time_column(const sqlite::Statement& row, int column) {
  if (row.is_null(column)) return std::nullopt;
  return system_clock::time_point(std::chrono::milliseconds(row.integer(column)));
}

Status status_of(const std::string& text) {
  if (text == "done") return Status::done;
  if (text == "failed") return Status::failed;
  return Status::pending;
}

// A row read with kRowColumns.
Row row_of(const sqlite::Statement& s) {
  Row row;
  row.key = s.text(0);
  row.source = s.text(1);
  row.id = s.optional_text(2);
  row.status = status_of(s.text(3));
  row.result_json = s.optional_text(4);
  row.error = s.optional_text(5);
  row.error_kind = s.optional_text(6);
  row.usage = {s.integer(7), s.integer(8), s.integer(9), s.real(10), s.integer(11)};
  row.started_at = time_column(s, 12);
  row.finished_at = time_column(s, 13);
  row.attempts = s.integer(14);
  row.tool_version = s.text(15);
  row.batch = s.integer(16) != 0;
  row.batch_name = s.optional_text(17);
  return row;
}

std::string random_token() {
  std::random_device device;
  return fmt::format("{:08x}{:08x}", device(), device());
}

StoreError store_error(const sqlite::Error& error, const fs::path& path) {
  using Reason = StoreError::Reason;
  const std::string name = path.string();
  const std::string why = error.what();
  switch (error.primary_code()) {
    case SQLITE_NOTADB:
      return {Reason::not_a_store, name + " is not a results store (not an SQLite database)"};
    case SQLITE_CORRUPT:
      return {Reason::damaged, name + " is a damaged results store (" + why + ")"};
    case SQLITE_FULL:
      return {Reason::disk_full,
              name + ": the disk is full; nothing more can be stored (" + why + ")"};
    case SQLITE_READONLY:
      return {Reason::read_only,
              name + " is read-only: results cannot be stored in it (" + why + ")"};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return {Reason::busy, name + " is busy: another process holds it (" + why + ")"};
    case SQLITE_CANTOPEN:
      return {Reason::other, "cannot open the results store " + name + " (" + why + ")"};
    case SQLITE_IOERR:
      // Some writes report a full disk only through the system's error number.
      if (error.system_errno() == ENOSPC) {
        return {Reason::disk_full, name + ": the disk is full; nothing more can be stored (" +
                                       std::strerror(ENOSPC) + ")"};
      }
      break;
    default: break;
  }
  return {Reason::other, name + ": " + why};
}

fs::path folder_of(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// Read-only is said before SQLite gets to open anything: with the file or its folder (where WAL
// mode keeps its -wal and -shm files) not writable, a write would fail later, half-way.
void refuse_read_only(const fs::path& path, bool exists) {
  using Reason = StoreError::Reason;
  if (exists && ::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS)) {
    throw StoreError(Reason::read_only, path.string() +
                                            " is read-only: results cannot be stored in it (" +
                                            std::strerror(errno) + ")");
  }
  if (::access(folder_of(path).c_str(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS)) {
    throw StoreError(Reason::read_only,
                     "the folder of " + path.string() +
                         " is read-only: the results store needs to write files beside it (" +
                         std::strerror(errno) + ")");
  }
}

// The name SQLite opens. A reader in a folder where no -shm file can be made (a read-only
// medium, another user's folder) cannot take part in WAL's shared index, so it reads the file as
// immutable: sound as long as nobody writes the store meanwhile, as nobody can on such a medium.
std::string database_name(const fs::path& path, bool read_only) {
  if (!read_only || ::access(folder_of(path).c_str(), W_OK | X_OK) == 0) return path.string();
  std::string uri = "file:";
  for (const char c : path.string()) {
    if (c == '%' || c == '?' || c == '#') {
      uri += fmt::format("%{:02X}", static_cast<unsigned char>(c));
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

// An exclusive flock(2) on the store file while it is opened: two processes creating the same
// store at once would otherwise race on its journal mode and schema. Kept open as long as the
// store, because closing any descriptor of the file would drop SQLite's own fcntl locks on it.
// Best effort: where the file cannot be opened, SQLite reports why.
class OpenLock {
 public:
  OpenLock(const fs::path& path, bool read_only)
      : fd_(read_only ? -1 : ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~OpenLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenLock(const OpenLock&) = delete;
  OpenLock& operator=(const OpenLock&) = delete;
  void release() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
  }

 private:
  int fd_;
};

std::string host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

// Whether the owner "<host>:<pid>:<token>" of a claim was a process of this machine that has
// ended (killed, say): its claim need not wait for its lease. A pid taken by another process
// since keeps the claim until its lease lapses, which is merely slower.
bool holder_is_gone(const std::string& holder) {
  const auto host_end = holder.find(':');
  const auto pid_end = holder.find(':', host_end == std::string::npos ? 0 : host_end + 1);
  if (host_end == std::string::npos || pid_end == std::string::npos) return false;
  if (holder.compare(0, host_end, host_name()) != 0) return false;
  pid_t pid = 0;
  const char* first = holder.data() + host_end + 1;
  const char* last = holder.data() + pid_end;
  if (std::from_chars(first, last, pid).ptr != last || pid <= 0) return false;
  return ::kill(pid, 0) == -1 && errno == ESRCH;
}

}  // namespace

struct Store::Impl {
  Impl(fs::path path, Options options, const std::string& database, int flags)
      : opening(path, options.read_only),
        path(std::move(path)),
        options(std::move(options)),
        owner(host_name() + ":" + std::to_string(::getpid()) + ":" + random_token()),
        db(database, flags) {}

  std::int64_t now() const { return milliseconds(options.clock()); }

  // Runs `action` under the lock, with SQLite's failures told as StoreError.
  template <typename Action>
  auto guarded(Action&& action) {
    const std::lock_guard lock(mutex);
    try {
      return action();
    } catch (const sqlite::Error& error) {
      throw store_error(error, path);
    }
  }

  void refuse_writes() const {
    if (options.read_only) {
      throw StoreError(StoreError::Reason::read_only,
                       path.string() + " was opened for reading only");
    }
  }

  // The first value a PRAGMA gives; the statement is finished on return, as COMMIT needs.
  std::int64_t pragma(const char* name) {
    auto statement = db.prepare(std::string("PRAGMA ") + name);
    return statement.step() ? statement.integer(0) : 0;
  }
  std::string pragma_text(const char* name) {
    auto statement = db.prepare(std::string("PRAGMA ") + name);
    return statement.step() ? statement.text(0) : std::string();
  }

  void check_identity(std::int64_t version, std::int64_t application_id) {
    if (version > STORE_VERSION) {
      throw StoreError(StoreError::Reason::newer_version,
                       path.string() + " was made by a newer version of this tool (store version " +
                           std::to_string(version) + "; this one knows up to " +
                           std::to_string(STORE_VERSION) + ")");
    }
    auto tables = db.prepare("SELECT count(*) FROM sqlite_schema");
    tables.step();
    const bool empty = tables.integer(0) == 0 && version == 0;
    if (application_id != kApplicationId && !empty) {
      throw StoreError(
          StoreError::Reason::not_a_store,
          path.string() + " is not a results store (an SQLite database of another program)");
    }
  }

  void migrate() {
    sqlite::Transaction transaction(db);
    // Read again under the write lock: another process may have migrated meanwhile.
    const std::int64_t version = pragma("user_version");
    check_identity(version, pragma("application_id"));
    if (version == STORE_VERSION) return;
    db.execute("PRAGMA application_id = " + std::to_string(kApplicationId));
    for (const Migration& migration : kMigrations) {
      if (migration.version <= version) continue;
      db.execute(migration.sql);
      db.execute("PRAGMA user_version = " + std::to_string(migration.version));
    }
    transaction.commit();
  }

  OpenLock opening;  // before db: closed after it
  fs::path path;
  Options options;
  std::string owner;
  sqlite::Database db;
  std::mutex mutex;
};

Store Store::open(const fs::path& path, Options options) {
  std::error_code ignored;
  const bool exists = fs::exists(path, ignored);
  if (!options.read_only) refuse_read_only(path, exists);
  const std::string database = database_name(path, options.read_only);
  const int flags =
      (options.read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
      SQLITE_OPEN_NOMUTEX | (database == path.string() ? 0 : SQLITE_OPEN_URI);
  const bool read_only = options.read_only;
  std::unique_ptr<Impl> impl;
  try {
    impl = std::make_unique<Impl>(path, std::move(options), database, flags);
  } catch (const sqlite::Error& error) {
    throw store_error(error, path);
  }
  impl->guarded([&] {
    sqlite3_busy_timeout(impl->db.handle(), static_cast<int>(impl->options.busy_timeout.count()));
    // Nothing is written before the file is known to be a store of a version this tool knows.
    // One snapshot: another process may be creating the store meanwhile, and its tables must
    // not be seen without its identity.
    std::int64_t version = 0;
    {
      sqlite::Transaction snapshot(impl->db, sqlite::Transaction::Kind::read);
      version = impl->pragma("user_version");
      impl->check_identity(version, impl->pragma("application_id"));
      snapshot.commit();
    }
    if (read_only) {
      if (version != STORE_VERSION) {
        throw StoreError(StoreError::Reason::not_a_store,
                         path.string() + " is not a results store of this version (store version " +
                             std::to_string(version) + "); open it for writing once to upgrade it");
      }
      return;
    }
    if (impl->pragma_text("journal_mode = WAL") != "wal") {
      throw StoreError(StoreError::Reason::other,
                       path.string() + ": the results store cannot use write-ahead logging here");
    }
    impl->db.execute("PRAGMA synchronous = NORMAL");
    impl->migrate();
  });
  impl->opening.release();
  return Store(std::move(impl));
}

Store::Store(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Store::~Store() = default;
Store::Store(Store&&) noexcept = default;
Store& Store::operator=(Store&&) noexcept = default;

const fs::path& Store::path() const { return impl_->path; }
const std::string& Store::owner() const { return impl_->owner; }

std::optional<Row> Store::lookup(const std::string& key) const {
  return impl_->guarded([&]() -> std::optional<Row> {
    auto select = impl_->db.prepare("SELECT " + std::string(kRowColumns) +
                                    " FROM results WHERE key = ?1 AND status != 'pending'");
    select.bind(1, key);
    if (!select.step()) return std::nullopt;
    return row_of(select);
  });
}

ClaimResult Store::claim(const std::string& key, const std::string& source,
                         const std::optional<std::string>& id, std::chrono::seconds lease,
                         Redo redo) {
  impl_->refuse_writes();
  return impl_->guarded([&] {
    auto& db = impl_->db;
    const std::int64_t now = impl_->now();
    const std::int64_t expires = now + std::chrono::milliseconds(lease).count();
    sqlite::Transaction transaction(db);
    struct Current {
      Status status;
      std::optional<std::string> holder;
      std::int64_t expires;
    };
    std::optional<Current> current;
    {
      auto select =
          db.prepare("SELECT status, claim_owner, claim_expires_at FROM results WHERE key = ?1");
      select.bind(1, key);
      if (select.step()) {
        current = Current{status_of(select.text(0)), select.optional_text(1), select.integer(2)};
      }
    }  // finished before the transaction commits
    if (current) {
      if (current->status == Status::done && redo != Redo::everything) return ClaimResult::done;
      if (current->status == Status::failed && redo == Redo::nothing) return ClaimResult::failed;
      // This store's own live claim too: threads sharing a store must not convert a key twice.
      if (current->holder && current->expires > now && !holder_is_gone(*current->holder)) {
        return ClaimResult::busy;
      }
    }
    db.prepare(
          "INSERT INTO results (key, source, source_id, started_at, attempts, claim_owner, "
          "claim_expires_at) VALUES (?1, ?2, ?3, ?4, 1, ?5, ?6) ON CONFLICT (key) DO UPDATE SET "
          "source = excluded.source, source_id = excluded.source_id, "
          "started_at = excluded.started_at, attempts = attempts + 1, "
          "claim_owner = excluded.claim_owner, claim_expires_at = excluded.claim_expires_at")
        .bind(1, key)
        .bind(2, source)
        .bind_optional(3, id)
        .bind(4, now)
        .bind(5, impl_->owner)
        .bind(6, expires)
        .step();
    transaction.commit();
    return ClaimResult::claimed;
  });
}

bool Store::renew(const std::string& key, std::chrono::seconds lease) {
  impl_->refuse_writes();
  return impl_->guarded([&] {
    const std::int64_t expires = impl_->now() + std::chrono::milliseconds(lease).count();
    impl_->db
        .prepare("UPDATE results SET claim_expires_at = ?3 WHERE key = ?1 AND claim_owner = ?2")
        .bind(1, key)
        .bind(2, impl_->owner)
        .bind(3, expires)
        .step();
    return impl_->db.changes() == 1;
  });
}

namespace {

// The outcome columns common to complete() and fail(): ?1 key, ?2 tool version, ?3 finished
// time, ?4-?8 usage, ?9 batch, ?10 batch name.
void bind_finish(sqlite::Statement& statement, const std::string& key,
                 const std::string& tool_version, std::int64_t now, const Finish& finish) {
  statement.bind(1, key)
      .bind(2, tool_version)
      .bind(3, now)
      .bind(4, finish.usage.input_tokens)
      .bind(5, finish.usage.output_tokens)
      .bind(6, finish.usage.total_tokens)
      .bind(7, finish.usage.audio_seconds)
      .bind(8, finish.usage.requests)
      .bind(9, static_cast<std::int64_t>(finish.batch))
      .bind_optional(10, finish.batch_name);
}

constexpr std::string_view kFinishAssignments =
    "tool_version = ?2, finished_at = ?3, input_tokens = input_tokens + ?4, "
    "output_tokens = output_tokens + ?5, total_tokens = total_tokens + ?6, "
    "audio_seconds = audio_seconds + ?7, requests = requests + ?8, batch = ?9, "
    "batch_name = coalesce(?10, batch_name), claim_owner = NULL, claim_expires_at = NULL";

std::string compact_json(std::string_view text) {
  const auto parsed = nlohmann::ordered_json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) throw qorl_core::ValueError("a result to store is not valid JSON");
  return parsed.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

void Store::complete(const std::string& key, std::string_view result_json, const Finish& finish) {
  impl_->refuse_writes();
  const std::string result = compact_json(result_json);
  impl_->guarded([&] {
    auto update = impl_->db.prepare(
        "UPDATE results SET status = 'done', result = ?11, error = NULL, error_kind = NULL, " +
        std::string(kFinishAssignments) + " WHERE key = ?1");
    bind_finish(update, key, impl_->options.tool_version, impl_->now(), finish);
    update.bind(11, result).step();
    if (impl_->db.changes() != 1) throw qorl_core::KeyError("no claim for the key " + key);
  });
}

void Store::fail(const std::string& key, std::string_view error, std::string_view error_kind,
                 const Finish& finish) {
  impl_->refuse_writes();
  impl_->guarded([&] {
    auto update = impl_->db.prepare(
        "UPDATE results SET status = CASE status WHEN 'done' THEN 'done' ELSE 'failed' END, "
        "error = ?11, error_kind = ?12, " +
        std::string(kFinishAssignments) + " WHERE key = ?1");
    bind_finish(update, key, impl_->options.tool_version, impl_->now(), finish);
    update.bind(11, error).bind(12, error_kind).step();
    if (impl_->db.changes() != 1) throw qorl_core::KeyError("no claim for the key " + key);
  });
}

void Store::release(const std::string& key) {
  impl_->refuse_writes();
  impl_->guarded([&] {
    auto& db = impl_->db;
    sqlite::Transaction transaction(db);
    db.prepare(
          "DELETE FROM results WHERE key = ?1 AND claim_owner = ?2 AND status = 'pending' "
          "AND batch_name IS NULL")
        .bind(1, key)
        .bind(2, impl_->owner)
        .step();
    db.prepare(
          "UPDATE results SET claim_owner = NULL, claim_expires_at = NULL "
          "WHERE key = ?1 AND claim_owner = ?2")
        .bind(1, key)
        .bind(2, impl_->owner)
        .step();
    transaction.commit();
  });
}

void Store::set_batch_job(const std::string& key, const std::string& batch_name) {
  impl_->refuse_writes();
  impl_->guarded([&] {
    impl_->db.prepare("UPDATE results SET batch = 1, batch_name = ?2 WHERE key = ?1")
        .bind(1, key)
        .bind(2, batch_name)
        .step();
    if (impl_->db.changes() != 1) throw qorl_core::KeyError("no claim for the key " + key);
  });
}

void Store::add_batch_job(const std::string& batch_name,
                          const std::vector<std::string>& request_keys) {
  impl_->refuse_writes();
  impl_->guarded([&] {
    auto& db = impl_->db;
    sqlite::Transaction transaction(db);
    for (const auto& request_key : request_keys) {
      db.prepare("INSERT OR IGNORE INTO batch_requests (batch_name, request_key) VALUES (?1, ?2)")
          .bind(1, batch_name)
          .bind(2, request_key)
          .step();
    }
    transaction.commit();
  });
}

std::map<std::string, std::vector<std::string>> Store::batch_jobs() const {
  return impl_->guarded([&] {
    auto select = impl_->db.prepare(
        "SELECT batch_name, request_key FROM batch_requests ORDER BY batch_name, request_key");
    std::map<std::string, std::vector<std::string>> jobs;
    while (select.step()) jobs[select.text(0)].push_back(select.text(1));
    return jobs;
  });
}

void Store::remove_batch_job(const std::string& batch_name) {
  impl_->refuse_writes();
  impl_->guarded([&] {
    auto& db = impl_->db;
    sqlite::Transaction transaction(db);
    db.prepare("DELETE FROM batch_requests WHERE batch_name = ?1").bind(1, batch_name).step();
    db.prepare("UPDATE results SET batch_name = NULL WHERE batch_name = ?1 AND status = 'pending'")
        .bind(1, batch_name)
        .step();
    transaction.commit();
  });
}

Totals Store::totals() const {
  return impl_->guarded([&] {
    Totals totals;
    auto by_mode = impl_->db.prepare(
        "SELECT batch, sum(status = 'done'), sum(status = 'failed'), sum(input_tokens), "
        "sum(output_tokens), sum(total_tokens), sum(audio_seconds), sum(requests) "
        "FROM results GROUP BY batch");
    while (by_mode.step()) {
      ModeTotals& mode = by_mode.integer(0) ? totals.batch : totals.direct;
      mode.done = by_mode.integer(1);
      mode.failed = by_mode.integer(2);
      mode.usage = {by_mode.integer(3), by_mode.integer(4), by_mode.integer(5), by_mode.real(6),
                    by_mode.integer(7)};
    }
    auto claims = impl_->db.prepare(
        "SELECT coalesce(sum(claim_owner IS NOT NULL AND claim_expires_at > ?1), 0), "
        "coalesce(sum(status = 'pending' AND batch_name IS NULL AND NOT (claim_owner IS NOT NULL "
        "AND claim_expires_at > ?1)), 0), "
        "coalesce(sum(status = 'pending' AND batch_name IS NOT NULL AND NOT (claim_owner IS NOT "
        "NULL AND claim_expires_at > ?1)), 0) FROM results");
    claims.bind(1, impl_->now()).step();
    totals.in_progress = claims.integer(0);
    totals.interrupted = claims.integer(1);
    totals.in_batch = claims.integer(2);
    return totals;
  });
}

std::int64_t Store::export_results(std::ostream& out) const {
  return impl_->guarded([&] {
    auto select = impl_->db.prepare(
        "SELECT source, source_id, key, result FROM results WHERE status = 'done' "
        "ORDER BY finished_at, key");
    std::int64_t count = 0;
    while (select.step()) {
      nlohmann::ordered_json head;
      head["source"] = select.text(0);
      head["id"] =
          select.is_null(1) ? nlohmann::ordered_json() : nlohmann::ordered_json(select.text(1));
      head["key"] = select.text(2);
      std::string line =
          head.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
      // The result was stored as compact JSON: spliced in, not parsed again.
      line.pop_back();
      out << line << ",\"result\":" << select.text(3) << "}\n";
      ++count;
    }
    if (!out) throw std::runtime_error("the results could not be written");
    return count;
  });
}

std::vector<Row> Store::failures() const {
  return impl_->guarded([&] {
    auto select = impl_->db.prepare("SELECT " + std::string(kRowColumns) +
                                    " FROM results WHERE status = 'failed' ORDER BY finished_at, "
                                    "key");
    std::vector<Row> rows;
    while (select.step()) rows.push_back(row_of(select));
    return rows;
  });
}

}  // namespace qorl_multimodal::batch::store
