#include "qorl_inference/attachment.hpp"

#include <boost/url/parse.hpp>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "clients/common/files.hpp"
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
  // One open and read: what is checked is what is read.
  std::string content;
  try {
    content = clients::common::read_regular_file(path.string(),
                                                 std::numeric_limits<std::uint64_t>::max());
  } catch (const clients::common::NotRegularFileError&) {
    throw qorl_core::FileNotFoundError("No such file: " + qorl_core::repr(path.string()));
  } catch (const std::system_error& error) {
    const bool missing = error.code() == std::errc::no_such_file_or_directory ||
                         error.code() == std::errc::not_a_directory;
    throw qorl_core::FileNotFoundError((missing ? "No such file: " : "Cannot read file: ") +
                                       qorl_core::repr(path.string()));
  } catch (const std::runtime_error&) {
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
