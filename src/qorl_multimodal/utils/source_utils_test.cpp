#include "qorl_multimodal/utils/source_utils.hpp"

#include <gtest/gtest.h>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/system/system_error.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "clients/http/http.hpp"
#include "testing/http_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/loopback.hpp"
#include "testing/scoped_call_policy.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::utils::source_utils {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using qorl_core::Bytes;

constexpr const char* kLogger = "qorl_multimodal.utils.source_utils";
constexpr std::string_view kUrlError = "The provided image source is not a valid URL with error: ";

// Sockets of this process connected to `port` on loopback (from /proc: our fds' inodes that
// /proc/net/tcp lists with that remote port).
int open_sockets_to(int port) {
  std::set<std::string> inodes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    auto target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (!ec && target.starts_with("socket:[")) inodes.insert(target.substr(8, target.size() - 9));
  }
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // header
  int count = 0;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    if (std::stoi(remote.substr(remote.find(':') + 1), nullptr, 16) == port &&
        inodes.contains(inode))
      ++count;
  }
  return count;
}

class SourceUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = server_.server();
    s.Get("/photo.png",
          [](const auto&, auto& res) { res.set_content("\x89PNG data", "image/png"); });
    s.Get("/missing", [](const auto&, auto& res) { res.status = 404; });
    s.Get("/nothing", [](const auto&, auto& res) { res.status = 204; });
    s.Get("/empty", [](const auto&, auto& res) { res.set_content("", "image/png"); });
    s.Get("/slow", [this](const auto&, auto& res) {
      ++slow_requests_;
      for (int i = 0; i < 500 && !released_; ++i) std::this_thread::sleep_for(10ms);
      res.set_content("late", "text/plain");
    });
    s.Get("/busy", [this](const auto&, auto& res) {
      ++busy_requests_;
      res.status = 503;
      res.set_header("Retry-After", "1");
    });
    // A steady stream for about three seconds: 30 blocks, 100 ms apart.
    s.Get("/stream.mp4", [](const auto&, auto& res) {
      res.set_chunked_content_provider("video/mp4", [](size_t offset, httplib::DataSink& sink) {
        constexpr std::size_t kBlock = 1000;
        if (offset == 30 * kBlock) {
          sink.done();
          return true;
        }
        if (offset > 0) std::this_thread::sleep_for(100ms);
        const std::string block(kBlock, 'v');
        return sink.write(block.data(), block.size());
      });
    });
    server_.start();
  }
  void TearDown() override { released_ = true; }

  std::optional<Bytes> download(std::string url, int timeout = 30,
                                clients::http::Session* session = nullptr) {
    auto result =
        asio::co_spawn(io_, get_file_from_url(std::move(url), timeout, session), asio::use_future);
    io_.restart();
    io_.run();
    return result.get();
  }

  std::atomic<bool> released_ = false;
  std::atomic<int> slow_requests_ = 0;
  std::atomic<int> busy_requests_ = 0;
  qorl_testing::HttpServer server_;
  asio::io_context io_;
  qorl_testing::LogCapture logs_;
};

TEST_F(SourceUtilsTest, DownloadsOnlyOkAnswers) {
  EXPECT_EQ(download(server_.url("/photo.png")), Bytes(std::string("\x89PNG data")));
  EXPECT_EQ(download(server_.url("/empty")), Bytes());
  logs_.clear();

  EXPECT_EQ(download(server_.url("/missing")), std::nullopt);
  EXPECT_EQ(
      logs_.messages(kLogger),
      (std::vector<std::string>{"Attempting to download file from URL: " + server_.url("/missing"),
                                "Failed to download file with response status code: 404"}));
  logs_.clear();
  EXPECT_EQ(download(server_.url("/nothing")), std::nullopt);
  EXPECT_EQ(logs_.messages(kLogger).back(),
            "Failed to download file with response status code: 204");
  logs_.clear();
  // A presigned URL's signature never reaches the log.
  download(server_.url("/photo.png?X-Amz-Signature=s3cr3t"));
  EXPECT_EQ(logs_.messages(kLogger).front().find("s3cr3t"), std::string::npos);
}

TEST_F(SourceUtilsTest, BadSourcesGiveNoneWithTheErrorLine) {
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port()) + "/a.png";
  for (const auto& [url, timeout] : std::vector<std::pair<std::string, int>>{
           {refused, 30}, {"not a url", 30}, {"/tmp/photo.png", 30}, {server_.url("/slow"), 1}}) {
    SCOPED_TRACE(url);
    logs_.clear();
    EXPECT_EQ(download(url, timeout), std::nullopt);
    auto lines = logs_.messages(kLogger, qorl_core::LogLevel::DEBUG);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[1].starts_with(kUrlError)) << lines[1];
    EXPECT_GT(lines[1].size(), kUrlError.size());
  }
}

TEST_F(SourceUtilsTest, OwnedSessionsCloseTheirSocketsCallersStayOpen) {
  download(server_.url("/photo.png"));
  download(server_.url("/missing"));
  download(server_.url("/slow"), 1);
  EXPECT_EQ(open_sockets_to(server_.port()), 0);

  clients::http::Session session(io_.get_executor());
  EXPECT_TRUE(download(server_.url("/photo.png"), 30, &session).has_value());
  EXPECT_FALSE(session.is_closed());
  EXPECT_EQ(open_sockets_to(server_.port()), 1);  // kept for reuse
  EXPECT_EQ(download(server_.url("/missing"), 30, &session), std::nullopt);
  EXPECT_EQ(download("http://127.0.0.1:1/", 30, &session), std::nullopt);
  EXPECT_FALSE(session.is_closed());
  EXPECT_TRUE(download(server_.url("/photo.png"), 30, &session).has_value());
}

TEST_F(SourceUtilsTest, CancellationPropagates) {
  asio::cancellation_signal signal;
  auto result = asio::co_spawn(io_, get_file_from_url(server_.url("/slow")),
                               asio::bind_cancellation_slot(signal.slot(), asio::use_future));
  io_.run_for(100ms);
  signal.emit(asio::cancellation_type::terminal);
  io_.restart();
  io_.run();
  try {
    result.get();
    ADD_FAILURE() << "cancellation was swallowed";
  } catch (const boost::system::system_error& e) {
    EXPECT_EQ(e.code(), asio::error::operation_aborted);
  }
  for (const auto& line : logs_.messages(kLogger))
    EXPECT_FALSE(line.starts_with(kUrlError)) << line;
}

TEST_F(SourceUtilsTest, ReadsFilesAndRejectsBadPaths) {
  qorl_testing::TempDir dir;
  const auto photo = dir.write("photo.png", std::string("\x89PNG\0data", 9)).string();
  const auto empty = dir.write("empty.png", "").string();
  EXPECT_EQ(get_file_from_file_path(photo), Bytes(std::string("\x89PNG\0data", 9)));
  EXPECT_EQ(get_file_from_file_path(empty), Bytes());
  logs_.clear();

  const auto missing = (dir.path() / "missing.png").string();
  EXPECT_EQ(get_file_from_file_path(missing), std::nullopt);
  EXPECT_EQ(logs_.messages(kLogger),
            (std::vector<std::string>{
                "Attempting to read image file from file path: " + missing,
                "The provided image source is not a valid image file path with error: "
                "[Errno 2] No such file or directory: '" +
                    missing + "'"}));
  // A directory, and a name that a C path would cut at its NUL (reading photo.png instead).
  for (const auto& bad : {dir.path().string(), photo + std::string("\0.txt", 5)}) {
    logs_.clear();
    EXPECT_EQ(get_file_from_file_path(bad), std::nullopt);
    EXPECT_TRUE(logs_.messages(kLogger).back().starts_with(
        "The provided image source is not a valid image file path with error: "));
  }
}

// Servers that are slow to answer, busy, or send a long body at a steady pace.
class HostileDownload : public SourceUtilsTest {};

TEST_F(HostileDownload, TimeoutBoundsTheWaitForTheAnswerNotTheBody) {
  // The body takes three times the limit, and never stops for as long as it.
  const auto media = download(server_.url("/stream.mp4"), 1);
  ASSERT_TRUE(media.has_value());
  EXPECT_EQ(media->size(), 30000u);

  // No answer within the limit: one request, not one per attempt.
  EXPECT_EQ(download(server_.url("/slow"), 1), std::nullopt);
  EXPECT_EQ(slow_requests_, 1);

  // Asked to come back after the limit: no retry, and the status is told.
  clients::http::CallPolicy honours_retry_after = qorl_testing::policy_without_delays();
  honours_retry_after.retry.max_retry_after = 60s;
  const qorl_testing::ScopedCallPolicy scoped(honours_retry_after);
  logs_.clear();
  EXPECT_EQ(download(server_.url("/busy"), 1), std::nullopt);
  EXPECT_EQ(busy_requests_, 1);
  EXPECT_EQ(logs_.messages(kLogger).back(),
            "Failed to download file with response status code: 503");
}

TEST(EncodeFileToBase64, StandardAlphabetWithPadding) {
  EXPECT_EQ(encode_file_to_base64(Bytes()), "");
  EXPECT_EQ(encode_file_to_base64(Bytes(std::string("\xfb\xff\xfe", 3))), "+//+");
  EXPECT_EQ(encode_file_to_base64(Bytes(std::string("hello"))), "aGVsbG8=");
}

}  // namespace
}  // namespace qorl_multimodal::utils::source_utils
