#include "qorl_inference/media_type.hpp"

#include <magic.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <utility>

#include "qorl_core/text.hpp"
namespace qorl_inference {
namespace {

// libmagic crashes when one handle is shared by threads: each thread loads its own.
class MagicHandle {
 public:
  MagicHandle() : handle_(magic_open(MAGIC_NONE)) {
    if (!handle_) throw std::runtime_error("libmagic could not be initialised");
    if (magic_load(handle_, nullptr) != 0) {
      const std::string message = magic_error(handle_) ? magic_error(handle_) : "unknown error";
      magic_close(handle_);
      throw std::runtime_error("libmagic could not load its database: " + message);
    }
  }
  ~MagicHandle() { magic_close(handle_); }
  MagicHandle(const MagicHandle&) = delete;
  MagicHandle& operator=(const MagicHandle&) = delete;

  // libmagic's answer for `data` under `flags`, or empty when it has none.
  std::string describe(std::string_view data, int flags) {
    magic_setflags(handle_, flags);
    const char* answer = magic_buffer(handle_, data.data(), data.size());
    return answer ? answer : "";
  }

 private:
  magic_t handle_;
};

MagicHandle& thread_magic() {
  thread_local MagicHandle handle;
  return handle;
}

// Media types whose customary extension libmagic does not know or names unusually
// ("jpeg/jpg/jpe/jfif"); the first entry for an extension is also its media type.
constexpr std::array<std::pair<std::string_view, std::string_view>, 26> kKnownTypes{{
    {"image/png", "png"},     {"image/jpeg", "jpg"},        {"image/webp", "webp"},
    {"image/gif", "gif"},     {"image/heic", "heic"},       {"image/heif", "heif"},
    {"image/svg+xml", "svg"}, {"audio/wav", "wav"},         {"audio/x-wav", "wav"},
    {"audio/mpeg", "mp3"},    {"audio/flac", "flac"},       {"audio/ogg", "ogg"},
    {"audio/aac", "aac"},     {"audio/x-m4a", "m4a"},       {"audio/aiff", "aiff"},
    {"audio/x-aiff", "aiff"}, {"video/mp4", "mp4"},         {"video/quicktime", "mov"},
    {"video/webm", "webm"},   {"video/x-matroska", "mkv"},  {"video/x-msvideo", "avi"},
    {"video/mpeg", "mpeg"},   {"video/3gpp", "3gp"},        {"application/pdf", "pdf"},
    {"text/plain", "txt"},    {"application/json", "json"},
}};

// Binary formats are told by their first bytes; libmagic would scan much more of a large file.
// Text formats (JSON, CSV, the character encoding) and content it cannot place on that prefix
// are judged on the whole content.
constexpr std::size_t kSniffPrefixBytes = 16 * 1024;

bool needs_whole_content(std::string_view mime_type) {
  return mime_type.starts_with("text/") || mime_type == "application/json" ||
         mime_type == "application/octet-stream" || mime_type.empty();
}

}  // namespace

std::string sniff_mime_type(std::string_view data) {
  if (data.size() > kSniffPrefixBytes) {
    std::string type = thread_magic().describe(data.substr(0, kSniffPrefixBytes), MAGIC_MIME_TYPE);
    if (!needs_whole_content(type)) return type;
  }
  return thread_magic().describe(data, MAGIC_MIME_TYPE);
}

std::string sniff_extension(std::string_view data) {
  // The extensions libmagic knows are those of binary formats, told by their first bytes.
  const std::string answer =
      thread_magic().describe(data.substr(0, kSniffPrefixBytes), MAGIC_EXTENSION);
  const std::string first = answer.substr(0, answer.find('/'));
  return first == "???" ? std::string() : first;
}

std::string extension_for_mime_type(std::string_view mime_type) {
  for (const auto& [type, extension] : kKnownTypes) {
    if (type == mime_type) return std::string(extension);
  }
  return {};
}

std::string mime_type_for_extension(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  const std::string wanted = qorl_core::ascii_lower(extension);
  for (const auto& [type, known] : kKnownTypes) {
    if (known == wanted) return std::string(type);
  }
  return {};
}

}  // namespace qorl_inference
