#include "qorl_multimodal/batch/cache_key.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <nlohmann/json.hpp>
#include <system_error>

#include "qorl_core/errors.hpp"
#include "qorl_core/text.hpp"

namespace qorl_multimodal::batch::cache_key {

namespace {

// Names the framing, so a later change of what goes into a key cannot meet an old key.
constexpr std::string_view kKeyDomain = "qorl-multimodal result key 1";

class Sha256 {
 public:
  Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
      throw std::runtime_error("SHA-256 is not available");
    }
  }

  void update(std::string_view bytes) {
    if (EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) != 1) {
      throw std::runtime_error("SHA-256 update failed");
    }
  }

  // Length-prefixed (8 bytes, big-endian), so consecutive fields cannot run into each other.
  void update_field(std::string_view field) {
    std::array<char, 8> length{};
    for (std::size_t i = 0; i < length.size(); ++i) {
      length[i] = static_cast<char>(static_cast<std::uint64_t>(field.size()) >> (56 - 8 * i));
    }
    update({length.data(), length.size()});
    update(field);
  }

  std::string hex_digest() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest.data(), &size) != 1) {
      throw std::runtime_error("SHA-256 final failed");
    }
    return qorl_core::hex({reinterpret_cast<const char*>(digest.data()), size});
  }

 private:
  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> context_;
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Sorted keys (nlohmann::json keeps objects in a std::map) at every level.
nlohmann::json canonical(const qorl_core::Value& value) {
  struct Visitor {
    nlohmann::json operator()(qorl_core::None) const { return nullptr; }
    nlohmann::json operator()(bool b) const { return b; }
    nlohmann::json operator()(std::int64_t i) const { return i; }
    nlohmann::json operator()(double d) const { return d; }
    nlohmann::json operator()(const std::string& s) const { return s; }
    nlohmann::json operator()(const qorl_core::Bytes&) const {
      throw qorl_core::TypeError("an option of a result key cannot be bytes");
    }
    nlohmann::json operator()(const qorl_core::List& list) const {
      nlohmann::json out = nlohmann::json::array();
      for (const auto& item : list) out.push_back(canonical(item));
      return out;
    }
    nlohmann::json operator()(const qorl_core::Map& map) const {
      nlohmann::json out = nlohmann::json::object();
      map.for_each([&](const std::string& key, const qorl_core::Value& item) {
        out[key] = canonical(item);
      });
      return out;
    }
    nlohmann::json operator()(const std::shared_ptr<qorl_core::Object>& object) const {
      throw qorl_core::TypeError("an option of a result key cannot be a " +
                                 (object ? object->type_name() : std::string("host object")));
    }
  };
  return std::visit(Visitor{}, value.storage());
}

}  // namespace

MediaDigest digest_bytes(std::string_view bytes) {
  Sha256 sha;
  sha.update(bytes);
  return {"sha256", sha.hex_digest(), bytes.size()};
}

MediaDigest digest_file(const std::filesystem::path& path) {
  // Non-blocking, so that a FIFO without a writer is refused instead of waited on.
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) throw std::system_error(errno, std::generic_category(), path.string());
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    throw std::system_error(errno, std::generic_category(), path.string());
  }
  if (!S_ISREG(st.st_mode)) {
    throw qorl_core::ValueError("Not a regular file: " + qorl_core::repr(path.string()));
  }
  Sha256 sha;
  std::uint64_t size = 0;
  std::array<char, 1 << 16> block{};
  for (;;) {
    const ssize_t n = ::read(fd.get(), block.data(), block.size());
    if (n > 0) {
      sha.update({block.data(), static_cast<std::size_t>(n)});
      size += static_cast<std::uint64_t>(n);
    } else if (n == 0) {
      return {"sha256", sha.hex_digest(), size};
    } else if (errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), path.string());
    }
  }
}

MediaDigest youtube_video(std::string_view video_id) {
  if (video_id.empty()) throw qorl_core::ValueError("a YouTube video id cannot be empty");
  return {"youtube", std::string(video_id), 0};
}

std::string canonical_options(const qorl_core::Options& options) {
  try {
    return canonical(qorl_core::Value(options)).dump();
  } catch (const nlohmann::json::exception& error) {
    // Text that is not UTF-8 has no canonical JSON form.
    throw qorl_core::ValueError(std::string("an option of a result key is not valid text: ") +
                                error.what());
  }
}

std::string compute_key(const MediaDigest& media, const Request& request) {
  Sha256 sha;
  for (const std::string_view field :
       {kKeyDomain, std::string_view(media.kind), std::string_view(media.digest),
        std::string_view(request.subcommand), std::string_view(request.backend),
        std::string_view(request.model)}) {
    sha.update_field(field);
  }
  sha.update_field(canonical_options(request.options));
  sha.update_field(std::to_string(request.prompt_version));
  return sha.hex_digest();
}

KeyedFile compute_file_key(const std::filesystem::path& path, const Request& request) {
  MediaDigest media = digest_file(path);
  std::string key = compute_key(media, request);
  return {std::move(media), std::move(key)};
}

}  // namespace qorl_multimodal::batch::cache_key
