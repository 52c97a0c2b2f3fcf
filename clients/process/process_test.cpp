#include "clients/process/process.hpp"
#include "testing/run_program.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace clients::process {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(RunProcessTest, PassesArgumentsVerbatimWithoutAShell) {
  const auto result =
      qorl_testing::run_process({"printf", "%s|", "a b", "$HOME", "`id`", ";", "*"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "a b|$HOME|`id`|;|*|");
}

TEST(RunProcessTest, CollectsLargeOutputOnBothStreamsAndTheExitStatus) {
  // More than a pipe holds on each stream: reading only one would deadlock.
  const auto result = qorl_testing::run_process(
      {"sh", "-c", "head -c 300000 /dev/zero; head -c 200000 /dev/zero >&2; exit 3"});
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(result.out.size(), 300000u);
  EXPECT_EQ(result.err.size(), 200000u);
  EXPECT_EQ(qorl_testing::run_process({"sh", "-c", "kill -9 $$"}).exit_code, 128 + 9);
  EXPECT_EQ(qorl_testing::run_process({"cat"}).out, "");  // standard input is empty, not the test's
}

TEST(RunProcessTest, FeedsLargeInputWhileReadingTheOutput) {
  std::string input(5 << 20, '\0');
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<char>(i * 7919 % 251);
  EXPECT_EQ(qorl_testing::run_process({"cat"}, {.input = input}).out, input);
  // A program that leaves its input unread ends the run normally.
  const auto result = qorl_testing::run_process({"true"}, {.input = input});
  EXPECT_EQ(result.exit_code, 0);
}

TEST(RunProcessTest, MissingProgramIsAProcessError) {
  try {
    qorl_testing::run_process({"/nonexistent/yt-dlp", "--version"});
    FAIL();
  } catch (const ProcessError& e) {
    EXPECT_STREQ(e.what(), "cannot run /nonexistent/yt-dlp: No such file or directory");
  }
}

TEST(RunProcessTest, OutputPastTheCapKillsTheProgram) {
  try {
    qorl_testing::run_process({"cat", "/dev/zero"}, {.output_limit = 100000});
    FAIL();
  } catch (const ProcessError& e) {
    EXPECT_STREQ(e.what(), "cat wrote more than 100000 bytes and was killed");
  }
}

// A shell that records its own pid and its background child's, then waits for ever.
class ProcessGroupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pids_ = fs::temp_directory_path() /
            ("qorl-process-test-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { fs::remove(pids_); }

  std::vector<std::string> waiting_shell() const {
    return {"sh", "-c", "sleep 600 & echo $$ $! > " + pids_.string() + "; wait"};
  }

  // True once the shell has written both pids.
  bool started() const { return fs::exists(pids_) && fs::file_size(pids_) > 0; }

  // Neither the shell nor its child is left running, nor as a zombie of this process.
  void expect_no_process_left() const {
    std::ifstream file(pids_);
    pid_t shell = 0, child = 0;
    ASSERT_TRUE(file >> shell >> child);
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(shell))) << "shell not reaped";
    // The child belongs to init once its parent is gone; the kill reaches it asynchronously, so
    // wait for it to end (gone, or a zombie of init).
    bool ended = false;
    for (int attempt = 0; attempt < 200 && !ended; ++attempt) {
      std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
      std::string pid_field, name, state;
      ended = !(stat >> pid_field >> name >> state) || state == "Z";
      if (!ended) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(ended) << "child still running";
  }

  fs::path pids_;
};

TEST_F(ProcessGroupTest, DeadlineKillsTheProgramAndItsChildrenAndReapsThem) {
  try {
    qorl_testing::run_process(waiting_shell(), {.deadline = 300ms});
    FAIL();
  } catch (const ProcessTimeout& e) {
    EXPECT_STREQ(e.what(), "sh did not finish within 300 ms and was killed");
  }
  expect_no_process_left();
}

TEST_F(ProcessGroupTest, CancellationKillsTheProgramAndRethrowsTheCancellation) {
  boost::asio::io_context loop;
  boost::asio::cancellation_signal cancel;
  std::exception_ptr error;
  bool done = false;
  boost::asio::co_spawn(
      loop, async_run_process(waiting_shell(), {.deadline = 0ms}),
      boost::asio::bind_cancellation_slot(cancel.slot(), [&](std::exception_ptr e, ProcessResult) {
        error = e;
        done = true;
      }));
  // The loop stays free while the program runs: this timer polls for it to have started.
  boost::asio::steady_timer poll(loop);
  std::function<void()> wait_for_start = [&] {
    poll.expires_after(10ms);
    poll.async_wait([&](boost::system::error_code) {
      if (started()) return cancel.emit(boost::asio::cancellation_type::terminal);
      wait_for_start();
    });
  };
  wait_for_start();
  loop.run();
  ASSERT_TRUE(done);
  try {
    std::rethrow_exception(error);
  } catch (const boost::system::system_error& e) {
    EXPECT_EQ(e.code(), boost::asio::error::operation_aborted);
  }
  expect_no_process_left();
}

}  // namespace
}  // namespace clients::process
