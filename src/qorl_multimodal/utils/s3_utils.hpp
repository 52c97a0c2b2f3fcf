// Fetching a file's bytes from Amazon S3, by an s3:// location or a virtual-hosted S3 URL.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <optional>
#include <string>
#include <utility>

#include "clients/aws/s3.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"

namespace qorl_multimodal::utils::s3_utils {

// The object's bytes, or none for any failure (logged; never thrown, apart from cancellation).
boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_file_from_s3(std::string url);
// get_file_from_s3, keeping the failure of an S3 location.
boost::asio::awaitable<source_utils::Fetched> fetch_s3(std::string url);

// Module-private steps, declared for tests.

// (bucket, key): from "s3://bucket/key", or from a URL whose whole host ends with
// ".amazonaws.com" (bucket = first host label); (none, none) otherwise.
std::pair<std::optional<std::string>, std::optional<std::string>> _parse_s3_url(
    const std::string& s3_uri);

// Default credentials, then the environment's access key, then its session token; throws
// ValueError when no attempt succeeded. A failure other credentials cannot mend (S3 failing
// with 5xx after its retries, a transfer that failed or passed the size cap) ends the
// attempts and propagates as it is.
boost::asio::awaitable<qorl_core::Bytes> _try_download_with_credentials(std::string bucket_name,
                                                                        std::string key);

boost::asio::awaitable<qorl_core::Bytes> _download_from_s3(clients::aws::S3Client s3_client,
                                                           std::string bucket_name,
                                                           std::string key);

}  // namespace qorl_multimodal::utils::s3_utils
