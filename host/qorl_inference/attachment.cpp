#include "qorl_inference/attachment.hpp"

#include <boost/url/parse.hpp>

#include <fstream>
#include <system_error>

#include "qorl_core/errors.hpp"
#include "qorl_inference/media_type.hpp"

namespace qorl_inference {
namespace {

std::string extension_of(const std::string& name) {
  const std::string extension = std::filesystem::path(name).extension().string();
  return extension.empty() ? extension : extension.substr(1);
}

}  // namespace

std::shared_ptr<Attachment> Attachment::from_bytes(qorl_core::Bytes data, std::string filename) {
  auto attachment = std::make_shared<Attachment>();
  attachment->mime_type = sniff_mime_type(data.view());
  attachment->extension = extension_for_mime_type(attachment->mime_type);
  if (attachment->extension.empty()) attachment->extension = sniff_extension(data.view());
  if (attachment->extension.empty()) attachment->extension = extension_of(filename);
  attachment->data = std::move(data);
  attachment->filename = std::move(filename);
  return attachment;
}

std::shared_ptr<Attachment> Attachment::from_path(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    throw qorl_core::FileNotFoundError("No such file: " + qorl_core::repr(path.string()));
  }
  const auto size = std::filesystem::file_size(path, error);
  std::ifstream in(path, std::ios::binary);
  std::string content(error ? 0 : size, '\0');
  if (error || !in || !in.read(content.data(), static_cast<std::streamsize>(content.size()))) {
    throw qorl_core::FileNotFoundError("Cannot read file: " + qorl_core::repr(path.string()));
  }
  return from_bytes(qorl_core::Bytes(std::move(content)), path.filename().string());
}

std::shared_ptr<Attachment> Attachment::from_url(std::string url) {
  auto parsed = boost::urls::parse_absolute_uri(url);
  if (!parsed || (parsed->scheme() != "http" && parsed->scheme() != "https") ||
      !parsed->has_authority() || parsed->encoded_host().empty()) {
    throw qorl_core::ValueError("Invalid URL: " + qorl_core::repr(url));
  }
  auto attachment = std::make_shared<Attachment>();
  const std::string path = parsed->path();
  attachment->filename = path.substr(path.find_last_of('/') + 1);
  attachment->extension = extension_of(attachment->filename);
  attachment->mime_type = mime_type_for_extension(attachment->extension);
  attachment->url = std::move(url);
  return attachment;
}

qorl_core::Options Attachment::to_map() const {
  return {{"data", data},
          {"filename", filename},
          {"mime_type", mime_type},
          {"extension", extension},
          {"url", url}};
}

}  // namespace qorl_inference
