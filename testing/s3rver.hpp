// The s3rver S3 emulator (Node.js, installed under testing/s3rver by scripts/install-deps), run
// on 127.0.0.1 for the object's lifetime. It checks access keys but not signatures.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "testing/temp_dir.hpp"

namespace qorl_testing {

class S3rver {
 public:
  static constexpr const char* ACCESS_KEY_ID = "S3RVER";
  static constexpr const char* SECRET_ACCESS_KEY = "S3RVER";

  // True when a `node` program is on PATH.
  static bool node_available();

  // Starts the emulator with `buckets` created, and waits until it accepts connections.
  explicit S3rver(const std::vector<std::string>& buckets);
  ~S3rver();
  S3rver(const S3rver&) = delete;
  S3rver& operator=(const S3rver&) = delete;

  std::string endpoint() const;
  // Stores an object through the emulator's own PutObject.
  void put(const std::string& bucket, const std::string& key, const std::string& content) const;

 private:
  TempDir directory_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace qorl_testing
