#include "testing/s3rver.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "clients/aws/sigv4.hpp"
#include "clients/http/http.hpp"
#include "qorl_core/run_sync.hpp"
#include "testing/loopback.hpp"

extern char** environ;

namespace qorl_testing {
namespace {

bool accepts_connections(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

bool S3rver::node_available() {
  const char* path = std::getenv("PATH");
  std::stringstream directories(path ? path : "");
  for (std::string directory; std::getline(directories, directory, ':');) {
    if (!directory.empty() && ::access((directory + "/node").c_str(), X_OK) == 0) return true;
  }
  return false;
}

S3rver::S3rver(const std::vector<std::string>& buckets) {
  if (!std::filesystem::exists(QORL_S3RVER_JS)) {
    throw std::runtime_error("s3rver is not installed; run scripts/install-deps");
  }
  port_ = free_loopback_port();
  std::vector<std::string> args{
      "node",      QORL_S3RVER_JS, "--directory", directory_.path().string(),
      "--address", "127.0.0.1",    "--port",      std::to_string(port_),
      "--silent"};
  for (const auto& bucket : buckets) {
    args.push_back("--configure-bucket");
    args.push_back(bucket);
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // Its start-up banner is written even when silent; keep the test output clean.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const int spawned = ::posix_spawnp(&pid_, "node", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start node");
  for (int i = 0; i < 1000; ++i) {
    if (accepts_connections(port_)) return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("s3rver exited at start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("s3rver did not start listening");
}

S3rver::~S3rver() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

std::string S3rver::endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }

void S3rver::put(const std::string& bucket, const std::string& key,
                 const std::string& content) const {
  clients::aws::SignableRequest signable;
  signable.method = "PUT";
  signable.path = "/" + bucket + clients::aws::encode_path("/" + key);
  const std::string host = "127.0.0.1:" + std::to_string(port_);
  signable.payload_hash = clients::aws::sha256_hex(content);
  signable.headers = {{"host", host}, {"x-amz-content-sha256", signable.payload_hash}};
  clients::aws::sign(signable, {ACCESS_KEY_ID, SECRET_ACCESS_KEY, "", std::nullopt},
                     {"us-east-1", "s3"}, std::chrono::system_clock::now());

  clients::http::Request request;
  request.method = "PUT";
  request.url = endpoint() + signable.path;
  request.headers = std::move(signable.headers);
  request.body = content;
  const auto response = qorl_core::run_sync(clients::http::fetch(std::move(request)));
  if (!response.ok()) {
    throw std::runtime_error("s3rver refused PutObject: " + std::to_string(response.status) + " " +
                             response.body);
  }
}

}  // namespace qorl_testing
