// Fetching a file's bytes from Google Drive by a share link or a bare file id: the public
// download first, then the Drive API with a service-account key.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <optional>
#include <string>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"

namespace qorl_multimodal::utils::gdrive_utils {

// The file's bytes, or none for any failure (logged at debug level; never thrown, apart from
// cancellation).
boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_file_from_gdrive(
    std::string gdrive_source);
// get_file_from_gdrive, keeping why a Drive file could not be had.
boost::asio::awaitable<source_utils::Fetched> fetch_gdrive(std::string gdrive_source);

// Whether `source` is a link to the Drive web host while QORL_GDRIVE_BASE_URL sends Drive
// requests elsewhere: then only the Drive download may take it, never a plain download of the
// link, so that nothing goes to the real host.
bool is_drive_link_sent_elsewhere(const std::string& source);

// Module-private steps, declared for tests.

// The id of a /file/d/ID, /open?id=ID or /uc?id=ID link on the Drive web host, or of a bare id
// of 20 or more letters, digits, "_" and "-"; none otherwise.
std::optional<std::string> _extract_gdrive_file_id(const std::string& gdrive_source);

// The anonymous download; none on an error status, a failed transfer or a sign-in page.
boost::asio::awaitable<std::optional<qorl_core::Bytes>> _download_gdrive_direct(
    std::string file_id);

// The Drive API download with the key file named by GCP_CREDENTIALS or
// GOOGLE_APPLICATION_CREDENTIALS; none without a key file or on any failure.
boost::asio::awaitable<std::optional<qorl_core::Bytes>> _download_gdrive_api(std::string file_id);

}  // namespace qorl_multimodal::utils::gdrive_utils
