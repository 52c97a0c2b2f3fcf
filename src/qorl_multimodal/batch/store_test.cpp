#include "qorl_multimodal/batch/store.hpp"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "qorl_multimodal/batch/sqlite.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::batch::store {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using std::chrono::system_clock;
using ::testing::HasSubstr;

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A clock the test moves by hand, shared by the stores it is given to.
struct ManualClock {
  system_clock::time_point now = system_clock::time_point(1'800'000'000s);
  Store::Options options(std::string tool_version = "0.1.0") {
    Store::Options options;
    options.tool_version = std::move(tool_version);
    options.clock = [this] { return now; };
    return options;
  }
};

// Runs `body` in a forked child and returns its report: empty when all went well, "skip: why"
// when the child cannot set up what it needs here, else what went wrong.
std::string in_child(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string report;
    try {
      report = body();
    } catch (const std::exception& error) {
      report = std::string("exception: ") + error.what();
    }
    (void)!::write(fds[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += " (the child died)";
  return report;
}

// A mount namespace of the calling (child) process's own, so mounts made there stay there.
std::string private_mounts() {
  if (::unshare(CLONE_NEWNS) != 0) {
    return std::string("skip: no mount namespace here: ") + std::strerror(errno);
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return std::string("skip: mounts cannot be made private: ") + std::strerror(errno);
  }
  return "";
}

#define EXPECT_CHILD_OK(report)                                          \
  do {                                                                   \
    const std::string child_report = (report);                           \
    if (child_report.starts_with("skip:")) GTEST_SKIP() << child_report; \
    EXPECT_EQ(child_report, "");                                         \
  } while (false)

class BatchStoreTest : public ::testing::Test {
 protected:
  fs::path store_path() const { return dir_.path() / "results.sqlite"; }
  Store open() { return Store::open(store_path(), clock_.options()); }

  qorl_testing::TempDir dir_;
  ManualClock clock_;
};

TEST_F(BatchStoreTest, RoundTripSurvivesReopening) {
  {
    Store store = open();
    EXPECT_EQ(store.claim("k1", "talk.wav", "t-1", 600s), ClaimResult::claimed);
    EXPECT_FALSE(store.lookup("k1")) << "a claim is not an outcome";
    clock_.now += 5s;
    store.complete("k1", R"({ "text" : "halo",
                             "segments": [1, 2] })",
                   {.usage = {100, 20, 120, 30.5, 1}});
    EXPECT_EQ(store.claim("k2", "photo.jpg", std::nullopt, 600s), ClaimResult::claimed);
    store.fail("k2", "photo.jpg: Unsupported image format", "ValueError",
               {.usage = {.requests = 1}});
  }
  Store store = open();
  const auto done = store.lookup("k1");
  ASSERT_TRUE(done);
  EXPECT_EQ(done->key, "k1");
  EXPECT_EQ(done->source, "talk.wav");
  EXPECT_EQ(done->id, "t-1");
  EXPECT_EQ(done->status, Status::done);
  EXPECT_EQ(done->result_json, R"({"text":"halo","segments":[1,2]})");
  EXPECT_FALSE(done->error);
  EXPECT_EQ(done->usage, (usage::Usage{100, 20, 120, 30.5, 1}));
  EXPECT_EQ(done->started_at, system_clock::time_point(1'800'000'000s));
  EXPECT_EQ(done->finished_at, system_clock::time_point(1'800'000'005s));
  EXPECT_EQ(done->attempts, 1);
  EXPECT_EQ(done->tool_version, "0.1.0");
  EXPECT_FALSE(done->batch);
  EXPECT_FALSE(done->batch_name);

  const auto failed = store.lookup("k2");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, Status::failed);
  EXPECT_FALSE(failed->id);
  EXPECT_EQ(failed->error, "photo.jpg: Unsupported image format");
  EXPECT_EQ(failed->error_kind, "ValueError");
  EXPECT_FALSE(failed->result_json);
  ASSERT_EQ(store.failures().size(), 1u);
  EXPECT_EQ(store.failures()[0].key, "k2");
  EXPECT_FALSE(store.lookup("unknown"));

  std::ostringstream exported;
  EXPECT_EQ(store.export_results(exported), 1);
  EXPECT_EQ(
      exported.str(),
      R"({"source":"talk.wav","id":"t-1","key":"k1","result":{"text":"halo","segments":[1,2]}})"
      "\n");
}

TEST_F(BatchStoreTest, TotalsSplitBatchFromDirectAndCountClaims) {
  Store store = open();
  store.claim("a", "a.wav", std::nullopt, 600s);
  store.complete("a", "{}", {.usage = {10, 1, 11, 60, 1}});
  store.claim("b", "b.wav", std::nullopt, 600s);
  store.set_batch_job("b", "batches/42");
  store.complete("b", "{}", {.usage = {20, 2, 22, 120, 1}, .batch = true});
  store.claim("c", "c.wav", std::nullopt, 600s);
  store.fail("c", "boom", "RuntimeError", {.usage = {5, 0, 5, 0, 2}});
  store.claim("live", "d.wav", std::nullopt, 600s);
  store.claim("lapsing", "e.wav", std::nullopt, 10s);
  clock_.now += 11s;

  const Totals totals = store.totals();
  EXPECT_EQ(totals.direct.done, 1);
  EXPECT_EQ(totals.direct.failed, 1);
  EXPECT_EQ(totals.direct.usage, (usage::Usage{15, 1, 16, 60, 3}));
  EXPECT_EQ(totals.batch.done, 1);
  EXPECT_EQ(totals.batch.failed, 0);
  EXPECT_EQ(totals.batch.usage, (usage::Usage{20, 2, 22, 120, 1}));
  EXPECT_EQ(totals.done(), 2);
  EXPECT_EQ(totals.failed(), 1);
  EXPECT_EQ(totals.usage().input_tokens, 35);
  EXPECT_EQ(totals.in_progress, 1);
  EXPECT_EQ(totals.interrupted, 1);
  const auto b = store.lookup("b");
  EXPECT_TRUE(b->batch);
  EXPECT_EQ(b->batch_name, "batches/42");
  EXPECT_EQ(Store::open(dir_.path() / "empty.sqlite").totals().done(), 0);
}

TEST_F(BatchStoreTest, ClaimsAreExclusiveUntilTheirLeaseLapses) {
  Store first = open();
  Store second = open();  // another owner on the same file, as another process would be
  EXPECT_NE(first.owner(), second.owner());
  EXPECT_THAT(first.owner(), HasSubstr(std::to_string(::getpid()) + ":"));

  EXPECT_EQ(first.claim("k", "a.wav", std::nullopt, 60s), ClaimResult::claimed);
  EXPECT_EQ(second.claim("k", "a.wav", std::nullopt, 60s), ClaimResult::busy);
  EXPECT_EQ(first.claim("k", "a.wav", std::nullopt, 60s), ClaimResult::busy)
      << "even its own: threads sharing a store convert a key once";
  clock_.now += 50s;
  EXPECT_TRUE(first.renew("k", 60s));
  EXPECT_FALSE(second.renew("k", 60s)) << "not its claim";
  clock_.now += 50s;  // 100 s after the claim, 50 s after the renewal
  EXPECT_EQ(second.claim("k", "a.wav", std::nullopt, 60s), ClaimResult::busy);
  EXPECT_EQ(second.totals().in_progress, 1);

  clock_.now += 11s;  // the renewed lease has lapsed: taken over
  EXPECT_EQ(second.totals().in_progress, 0);
  EXPECT_EQ(second.totals().interrupted, 1);
  EXPECT_EQ(second.claim("k", "copy-of-a.wav", "id-2", 60s), ClaimResult::claimed);
  EXPECT_FALSE(first.renew("k", 60s)) << "the first owner learns it lost the key";
  EXPECT_EQ(first.claim("k", "a.wav", std::nullopt, 60s), ClaimResult::busy);

  // A result the first owner paid for is kept all the same, and ends the second's claim.
  first.complete("k", R"({"by":"first"})");
  EXPECT_FALSE(second.renew("k", 60s));
  const auto row = second.lookup("k");
  EXPECT_EQ(row->result_json, R"({"by":"first"})");
  EXPECT_EQ(row->source, "copy-of-a.wav");
  EXPECT_EQ(row->attempts, 2);
  EXPECT_EQ(second.claim("k", "a.wav", std::nullopt, 60s), ClaimResult::done);
}

TEST_F(BatchStoreTest, RedoDecidesWhichOutcomesAreConvertedAgain) {
  Store store = open();
  store.claim("done", "a.wav", std::nullopt, 60s);
  store.complete("done", R"({"v":1})", {.usage = {.requests = 1}});
  store.claim("failed", "b.wav", std::nullopt, 60s);
  store.fail("failed", "timed out", "TimeoutError", {.usage = {.requests = 1}});

  EXPECT_EQ(store.claim("done", "a.wav", std::nullopt, 60s), ClaimResult::done);
  EXPECT_EQ(store.claim("done", "a.wav", std::nullopt, 60s, Redo::failed), ClaimResult::done);
  EXPECT_EQ(store.claim("failed", "b.wav", std::nullopt, 60s), ClaimResult::failed);
  EXPECT_EQ(store.claim("failed", "b.wav", std::nullopt, 60s, Redo::failed), ClaimResult::claimed);
  EXPECT_EQ(store.claim("done", "a.wav", std::nullopt, 60s, Redo::everything),
            ClaimResult::claimed);

  // Cancelled while refreshed: the earlier outcome stays, the claim goes.
  store.release("done");
  EXPECT_EQ(store.lookup("done")->result_json, R"({"v":1})");
  EXPECT_EQ(store.totals().in_progress, 1);  // "failed" is still claimed
  // A failed refresh keeps the result, with the error beside it; usage adds up.
  store.claim("done", "a.wav", std::nullopt, 60s, Redo::everything);
  store.fail("done", "quota exceeded", "ServiceError", {.usage = {.requests = 1}});
  const auto refreshed = store.lookup("done");
  EXPECT_EQ(refreshed->status, Status::done);
  EXPECT_EQ(refreshed->result_json, R"({"v":1})");
  EXPECT_EQ(refreshed->error, "quota exceeded");
  EXPECT_EQ(refreshed->usage.requests, 2);
  // A retried failure that succeeds forgets its error.
  store.complete("failed", R"({"v":2})", {.usage = {.requests = 1}});
  const auto retried = store.lookup("failed");
  EXPECT_EQ(retried->status, Status::done);
  EXPECT_FALSE(retried->error);
  EXPECT_EQ(retried->usage.requests, 2);
  EXPECT_EQ(retried->attempts, 2);

  // A new key released is forgotten.
  store.claim("new", "c.wav", std::nullopt, 60s);
  store.release("new");
  EXPECT_FALSE(store.lookup("new"));
  EXPECT_EQ(store.totals().interrupted, 0);
  EXPECT_EQ(store.totals().in_progress, 0);
}

TEST_F(BatchStoreTest, RefusesOutcomesOfUnclaimedKeysAndResultsThatAreNotJson) {
  Store store = open();
  EXPECT_THROW(store.complete("nope", "{}"), qorl_core::KeyError);
  EXPECT_THROW(store.fail("nope", "e", "Error"), qorl_core::KeyError);
  EXPECT_THROW(store.set_batch_job("nope", "batches/1"), qorl_core::KeyError);
  store.claim("k", "a.wav", std::nullopt, 60s);
  EXPECT_THROW(store.complete("k", "{not json"), qorl_core::ValueError);
  EXPECT_FALSE(store.lookup("k"));
  // Text results are JSON too, and a source's odd bytes do not break the export.
  store.complete("k", R"("line one\nline two")");
  store.claim("odd", "bad-\xff-name.wav", std::nullopt, 60s);
  store.complete("odd", "[]");
  std::ostringstream exported;
  EXPECT_EQ(store.export_results(exported), 2);
  const std::string lines = exported.str();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
  EXPECT_THAT(lines, HasSubstr(R"("result":"line one\nline two"})"));
  EXPECT_THAT(lines, HasSubstr("bad-\xEF\xBF\xBD-name.wav"));
}

TEST_F(BatchStoreTest, BatchJobsAreKeptForAResume) {
  Store store = open();
  store.add_batch_job("batches/b", {"r2", "r1"});
  store.add_batch_job("batches/a", {"r3"});
  using Jobs = std::map<std::string, std::vector<std::string>>;
  EXPECT_EQ(store.batch_jobs(), (Jobs{{"batches/a", {"r3"}}, {"batches/b", {"r1", "r2"}}}));

  // Sources left waiting in a job keep their rows when their claims are given up or lapse.
  for (const char* key : {"k1", "k2", "k3"}) store.claim(key, key, std::nullopt, 60s);
  store.set_batch_job("k1", "batches/b");
  store.set_batch_job("k2", "batches/b");
  store.set_batch_job("k3", "batches/a");
  store.release("k3");
  clock_.now += 1h;
  EXPECT_EQ(store.totals().in_batch, 3);
  EXPECT_EQ(store.totals().interrupted, 0);
  store.claim("k1", "k1", std::nullopt, 60s);
  store.complete("k1", "{}", {.batch = true});
  EXPECT_EQ(store.lookup("k1")->batch_name, "batches/b");
  EXPECT_TRUE(store.lookup("k1")->batch);
  EXPECT_EQ(store.totals().in_batch, 2);

  // A cancelled job is forgotten, and so are its rows' ties to it.
  store.remove_batch_job("batches/a");
  EXPECT_EQ(store.batch_jobs(), (Jobs{{"batches/b", {"r1", "r2"}}}));
  EXPECT_EQ(store.totals().in_batch, 1);
}

TEST_F(BatchStoreTest, ReadingOnlyNeverWrites) {
  {
    Store store = open();
    store.claim("k", "a.wav", std::nullopt, 60s);
    store.complete("k", "{}");
  }
  const std::string before = file_bytes(store_path());
  Store::Options options = clock_.options();
  options.read_only = true;
  Store reader = Store::open(store_path(), options);
  EXPECT_TRUE(reader.lookup("k"));
  EXPECT_EQ(reader.totals().done(), 1);
  std::ostringstream exported;
  EXPECT_EQ(reader.export_results(exported), 1);
  try {
    reader.claim("other", "b.wav", std::nullopt, 60s);
    FAIL() << "claimed through a read-only store";
  } catch (const StoreError& error) {
    EXPECT_EQ(error.reason(), StoreError::Reason::read_only);
    EXPECT_EQ(std::string(error.what()), store_path().string() + " was opened for reading only");
  }
  EXPECT_EQ(file_bytes(store_path()), before);
  EXPECT_THROW(Store::open(dir_.path() / "missing.sqlite", options), StoreError);
  EXPECT_FALSE(fs::exists(dir_.path() / "missing.sqlite"));
}

TEST_F(BatchStoreTest, NewAndEmptyFilesBecomeStoresOfTheCurrentVersion) {
  std::ofstream(dir_.path() / "empty.sqlite").flush();  // a 0-byte file is an empty database
  for (const fs::path& path : {dir_.path() / "empty.sqlite", dir_.path() / "new.sqlite"}) {
    Store::open(path).claim("k", "a.wav", std::nullopt, 60s);
    sqlite::Database db(path.string(), SQLITE_OPEN_READONLY);
    auto version = db.prepare("PRAGMA user_version");
    ASSERT_TRUE(version.step());
    EXPECT_EQ(version.integer(0), STORE_VERSION);
    auto mode = db.prepare("PRAGMA journal_mode");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.text(0), "wal");
  }
}

// Two processes work through the same keys at once: every key is converted exactly once.
TEST_F(BatchStoreTest, TwoProcessesNeverConvertTheSameKey) {
  constexpr int kKeys = 120;
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  struct Child {
    pid_t pid;
    int claims_fd;
  };
  std::vector<Child> children;
  for (int c = 0; c < 2; ++c) {
    int claims[2];
    ASSERT_EQ(::pipe(claims), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(start[1]);
      ::close(claims[0]);
      char go;
      (void)!::read(start[0], &go, 1);  // both begin together, on a store not made yet
      int status = 0;
      try {
        Store store = Store::open(store_path());
        for (int i = 0; i < kKeys; ++i) {
          const std::string key = "k" + std::to_string(i);
          if (store.claim(key, key, std::nullopt, 600s) != ClaimResult::claimed) continue;
          (void)!::write(claims[1], &i, sizeof i);
          store.complete(key, "{\"by\":" + std::to_string(::getpid()) + "}");
        }
      } catch (const std::exception& error) {
        std::fprintf(stderr, "child: %s\n", error.what());
        status = 1;
      }
      ::_exit(status);
    }
    ::close(claims[1]);
    children.push_back({pid, claims[0]});
  }
  ::close(start[0]);
  ::close(start[1]);  // go

  std::vector<std::set<int>> claimed(2);
  for (int c = 0; c < 2; ++c) {
    int i;
    while (::read(children[c].claims_fd, &i, sizeof i) == sizeof i) claimed[c].insert(i);
    ::close(children[c].claims_fd);
    int status = 0;
    ::waitpid(children[c].pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<int> both;
  std::set_intersection(claimed[0].begin(), claimed[0].end(), claimed[1].begin(), claimed[1].end(),
                        std::inserter(both, both.begin()));
  EXPECT_TRUE(both.empty()) << both.size() << " keys converted twice";
  EXPECT_EQ(claimed[0].size() + claimed[1].size(), static_cast<std::size_t>(kKeys));

  Store store = Store::open(store_path());
  EXPECT_EQ(store.totals().done(), kKeys);
  for (int c = 0; c < 2; ++c) {
    for (const int i : claimed[c]) {
      EXPECT_EQ(store.lookup("k" + std::to_string(i))->result_json,
                "{\"by\":" + std::to_string(children[c].pid) + "}");
    }
  }
}

TEST_F(BatchStoreTest, ThreadsSharingAStoreNeverConvertTheSameKey) {
  constexpr int kKeys = 40;
  Store store = Store::open(store_path());
  std::vector<std::vector<int>> claimed(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < claimed.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kKeys; ++i) {
        const std::string key = "k" + std::to_string(i);
        if (store.claim(key, key, std::nullopt, 600s) != ClaimResult::claimed) continue;
        claimed[t].push_back(i);
        store.complete(key, "{}");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::multiset<int> all;
  for (const auto& keys : claimed) all.insert(keys.begin(), keys.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kKeys));
  EXPECT_EQ(std::set<int>(all.begin(), all.end()).size(), all.size()) << "a key claimed twice";
  EXPECT_EQ(store.totals().done(), kKeys);
}

// A process killed with SIGKILL at random points: what it completed is there, the store is
// sound, and its last claim lapses and is taken over.
TEST_F(BatchStoreTest, SurvivesKillNineAtRandomPoints) {
  std::random_device seed;
  const unsigned seed_value = seed();
  SCOPED_TRACE("seed " + std::to_string(seed_value));
  std::mt19937 random(seed_value);
  Store::open(store_path());  // made beforehand; no connection is open across fork()

  for (int round = 0; round < 3; ++round) {
    const auto key = [round](int i) {
      return "r" + std::to_string(round) + "-" + std::to_string(i);
    };
    int completions[2];
    ASSERT_EQ(::pipe(completions), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(completions[0]);
      try {
        Store store = Store::open(store_path());
        for (int i = 0;; ++i) {
          if (store.claim(key(i), key(i), std::nullopt, 1h) != ClaimResult::claimed) ::_exit(2);
          store.complete(key(i), "{\"i\":" + std::to_string(i) + "}", {.usage = {.requests = 1}});
          (void)!::write(completions[1], &i, sizeof i);
        }
      } catch (const std::exception& error) {
        std::fprintf(stderr, "child: %s\n", error.what());
      }
      ::_exit(1);
    }
    ::close(completions[1]);
    const int kill_after = std::uniform_int_distribution<int>(1, 40)(random);
    int reported = -1;
    for (int i; reported + 1 < kill_after && ::read(completions[0], &i, sizeof i) == sizeof i;) {
      reported = i;
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    for (int i; ::read(completions[0], &i, sizeof i) == sizeof i;) reported = i;
    ::close(completions[0]);

    {
      sqlite::Database db(store_path().string(), SQLITE_OPEN_READWRITE);
      auto check = db.prepare("PRAGMA integrity_check");
      ASSERT_TRUE(check.step());
      EXPECT_EQ(check.text(0), "ok");
    }
    Store now = Store::open(store_path());  // the real clock: the child's lease still runs
    for (int i = 0; i <= reported; ++i) {
      const auto row = now.lookup(key(i));
      ASSERT_TRUE(row) << key(i);
      EXPECT_EQ(row->result_json, "{\"i\":" + std::to_string(i) + "}");
    }
    // Past what it reported, it may have completed one more, and claimed one more after that.
    EXPECT_FALSE(now.lookup(key(reported + 3)));
    ManualClock later{system_clock::now() + 2h};
    Store after_lease = Store::open(store_path(), later.options());
    int taken_over = 0;
    for (int i = reported + 1; i <= reported + 2; ++i) {
      if (now.lookup(key(i))) continue;
      const ClaimResult live = now.claim(key(i), key(i), std::nullopt, 60s);
      if (live == ClaimResult::claimed) {  // never claimed by the child
        now.release(key(i));
        continue;
      }
      EXPECT_EQ(live, ClaimResult::busy);
      EXPECT_EQ(after_lease.claim(key(i), key(i), std::nullopt, 60s), ClaimResult::claimed);
      after_lease.complete(key(i), "{}");
      ++taken_over;
    }
    EXPECT_LE(taken_over, 1);
    EXPECT_EQ(after_lease.totals().interrupted, 0);
    EXPECT_EQ(after_lease.totals().in_progress, 0);
  }
}

class HostileStoreTest : public ::testing::Test {
 protected:
  // Opening `path` fails with `reason` and `message`, and leaves the file as it was.
  static void expect_refused(const fs::path& path, StoreError::Reason reason,
                             const std::string& message) {
    const std::string before = file_bytes(path);
    try {
      Store::open(path);
      ADD_FAILURE() << "opened " << path;
    } catch (const StoreError& error) {
      EXPECT_EQ(error.reason(), reason);
      EXPECT_EQ(std::string(error.what()), message);
    }
    EXPECT_EQ(file_bytes(path), before);
  }

  qorl_testing::TempDir dir_;
};

TEST_F(HostileStoreTest, FilesThatAreNotStoresAreLeftAlone) {
  std::string noise(8192, '\0');
  std::mt19937 random(7);
  for (char& byte : noise) byte = static_cast<char>(random());
  for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
           {"noise.sqlite", noise}, {"notes.txt", "results go here\n"}}) {
    const fs::path path = dir_.write(name, content);
    expect_refused(path, StoreError::Reason::not_a_store,
                   path.string() + " is not a results store (not an SQLite database)");
  }
  const fs::path other = dir_.path() / "other.sqlite";
  sqlite::Database(other.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)
      .execute("CREATE TABLE photos (name TEXT)");
  expect_refused(
      other, StoreError::Reason::not_a_store,
      other.string() + " is not a results store (an SQLite database of another program)");
}

TEST_F(HostileStoreTest, StoreOfANewerVersionIsRefusedUntouched) {
  const fs::path path = dir_.path() / "results.sqlite";
  {
    Store store = Store::open(path);
    store.claim("k", "a.wav", std::nullopt, 60s);
    store.complete("k", "{}");
  }
  sqlite::Database(path.string(), SQLITE_OPEN_READWRITE)
      .execute("PRAGMA user_version = " + std::to_string(STORE_VERSION + 1));
  expect_refused(path, StoreError::Reason::newer_version,
                 path.string() + " was made by a newer version of this tool (store version " +
                     std::to_string(STORE_VERSION + 1) + "; this one knows up to " +
                     std::to_string(STORE_VERSION) + ")");
}

// A store in a folder that cannot be written. Root writes whatever the modes say, so as root the
// folder is bind-mounted read-only in a mount namespace of a child's own.
TEST_F(HostileStoreTest, ReadOnlyStoreOrFolderIsSaidSo) {
  const fs::path folder = dir_.path() / "archive #1?%";  // characters a URI would misread
  fs::create_directories(folder);
  const fs::path path = folder / "results.sqlite";
  {
    Store store = Store::open(path);
    store.claim("k", "a.wav", std::nullopt, 60s);
    store.complete("k", R"({"kept":true})");
  }
  const std::string before = file_bytes(path);
  EXPECT_CHILD_OK(in_child([&]() -> std::string {
    if (::geteuid() == 0) {
      if (std::string setup = private_mounts(); !setup.empty()) return setup;
      if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
          ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) !=
              0) {
        return std::string("skip: no read-only bind mount here: ") + std::strerror(errno);
      }
    } else {
      fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
      fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }
    std::string report;
    for (const auto& [target, message] : std::vector<std::pair<fs::path, std::string>>{
             {path, " is read-only: results cannot be stored in it ("},
             {folder / "new.sqlite",
              " is read-only: the results store needs to write files beside it ("}}) {
      try {
        Store::open(target);
        report += "opened " + target.string() + "; ";
      } catch (const StoreError& error) {
        if (error.reason() != StoreError::Reason::read_only ||
            std::string(error.what()).find(message) == std::string::npos) {
          report += std::string("wrong error: ") + error.what() + "; ";
        }
      }
    }
    // Reading only still works there.
    Store::Options reading;
    reading.read_only = true;
    if (Store::open(path, reading).lookup("k")->result_json != R"({"kept":true})") {
      report += "the stored result could not be read; ";
    }
    return report;
  }));
  EXPECT_EQ(file_bytes(path), before);
  EXPECT_FALSE(fs::exists(folder / "new.sqlite"));
}

// A full disk: a small tmpfs in a mount namespace of a child's own.
TEST_F(HostileStoreTest, FullDiskIsSaidSoAndEarlierResultsStay) {
  const fs::path folder = dir_.path() / "small";
  fs::create_directories(folder);
  EXPECT_CHILD_OK(in_child([&]() -> std::string {
    if (std::string setup = private_mounts(); !setup.empty()) return setup;
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") != 0) {
      return std::string("skip: no tmpfs here: ") + std::strerror(errno);
    }
    const fs::path path = folder / "results.sqlite";
    const std::string big = "\"" + std::string(16 * 1024, 'x') + "\"";
    int completed = 0;
    std::string report;
    {
      Store store = Store::open(path);
      try {
        for (;; ++completed) {
          const std::string key = "k" + std::to_string(completed);
          store.claim(key, key, std::nullopt, 60s);
          store.complete(key, big);
          if (completed > 100) return "the disk never filled";
        }
      } catch (const StoreError& error) {
        if (error.reason() != StoreError::Reason::disk_full ||
            std::string(error.what()).find(path.string() + ": the disk is full; ") != 0) {
          report += std::string("wrong error: ") + error.what() + "; ";
        }
      }
      if (completed == 0) report += "nothing fitted; ";
      for (int i = 0; i < completed; ++i) {
        if (!store.lookup("k" + std::to_string(i))) report += "lost k" + std::to_string(i) + "; ";
      }
    }
    if (Store::open(path).totals().done() != completed) report += "wrong count after reopening; ";
    return report;
  }));
}

}  // namespace
}  // namespace qorl_multimodal::batch::store
