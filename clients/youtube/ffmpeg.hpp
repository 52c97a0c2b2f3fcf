// The ffmpeg program, run with an argument vector.
#pragma once

#include <filesystem>
#include <stdexcept>

namespace clients::youtube {

// ffmpeg could not convert the file; the message is ffmpeg's own error output.
class PostProcessingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the first audio stream of `input` to `output` as FLAC.
void transcode_to_flac(const std::filesystem::path& input, const std::filesystem::path& output);

}  // namespace clients::youtube
