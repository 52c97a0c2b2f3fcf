// Content sent to a model beside the prompt text: bytes held in memory, or a reference to
// remote content (a video link, say) that the model service fetches itself.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "qorl_core/record.hpp"
#include "qorl_core/value.hpp"

namespace qorl_inference {

class Attachment : public qorl_core::RecordBase {
 public:
  qorl_core::Bytes data;  // empty for a reference to remote content
  std::string filename;   // empty when none was given
  std::string mime_type;  // empty when unknown
  std::string extension;  // without the dot; empty when unknown
  std::string url;        // the remote content's address, for references only

  // MIME type and extension are read from the content itself.
  static std::shared_ptr<Attachment> from_bytes(qorl_core::Bytes data, std::string filename = "");
  // Reads the whole file; FileNotFoundError when `path` is not a readable regular file.
  static std::shared_ptr<Attachment> from_path(const std::filesystem::path& path);
  // Refers to `url` without fetching it; the file name and types come from the URL's path.
  // ValueError when `url` is not an absolute http(s) URL.
  static std::shared_ptr<Attachment> from_url(std::string url);

  bool is_url() const noexcept { return !url.empty(); }

  qorl_core::Options to_map() const override;
  std::string type_name() const override { return "Attachment"; }
};

}  // namespace qorl_inference
