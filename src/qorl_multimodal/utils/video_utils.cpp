#include "qorl_multimodal/utils/video_utils.hpp"

#include <fmt/format.h>
#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <filesystem>

#include "qorl_core/errors.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/text.hpp"
#include "qorl_multimodal/utils/video_frame_reader.hpp"

namespace qorl_multimodal::utils::video_utils {
namespace {

using qorl_core::ValueError;

qorl_core::Logger& logger() {
  return qorl_core::module_logger<"qorl_multimodal.utils.video_utils">();
}

const media_source_utils::MediaKind kVideo{"video", "a", &logger};

// 5.5, 10.0, 0.0: shortest round-trip form with at least one decimal.
std::string number_text(double value) { return qorl_core::repr(qorl_core::Value(value)); }

// Image format name -> the file extension OpenCV's encoder selects its codec by.
std::string encoder_extension(const std::string& output_format) {
  const std::string name = qorl_core::ascii_upper(output_format);
  if (name == "PNG") return ".png";
  if (name == "JPEG" || name == "JPG") return ".jpg";
  if (name == "BMP") return ".bmp";
  if (name == "TIFF" || name == "TIF") return ".tiff";
  if (name == "WEBP") return ".webp";
  if (name == "PPM") return ".ppm";
  throw ValueError("Unsupported image format: " + output_format);
}

qorl_core::Bytes read_and_encode(const std::string& video_path, double timestamp,
                                 const std::string& output_format) {
  const std::string extension = encoder_extension(output_format);
  auto reader = video_frame_reader::VideoFrameReader::open(video_path);
  if (!reader) throw ValueError("Failed to open video file: " + video_path);

  const double fps = reader->fps();
  if (fps <= 0) {
    throw ValueError("Invalid FPS (" + number_text(fps) + ") in video file: " + video_path);
  }
  // Truncated in floating point first: a time past any integer's range still means the end.
  const double exact_frame = std::trunc(timestamp * fps);
  if (std::isnan(exact_frame)) throw ValueError("cannot convert float NaN to integer");
  if (std::isinf(exact_frame)) throw ValueError("cannot convert float infinity to integer");
  const long long total_frames = reader->frame_count();
  long long frame_number = 0;
  if (exact_frame >= static_cast<double>(total_frames)) {
    logger().warning("Timestamp " + number_text(timestamp) + "s (frame " +
                     fmt::format("{:.0f}", exact_frame) +
                     ") exceeds video duration. Using last frame (frame " +
                     std::to_string(total_frames - 1) + ").");
    frame_number = total_frames - 1;
  } else {
    frame_number = static_cast<long long>(exact_frame);
  }

  // A stream ending before the frame is damaged, unless the last frame was asked for (a frame
  // count worked out from the duration may be one too many).
  const auto frame = reader->read_frame(frame_number);
  if (!frame || frame->pixels.empty() ||
      (frame->index < frame_number && frame_number < total_frames - 1)) {
    throw ValueError("Failed to extract frame at timestamp " + number_text(timestamp) + "s from " +
                     video_path);
  }

  // The reader delivers blue-green-red, the order OpenCV's encoder expects, so the written image
  // carries the video's colours.
  std::vector<unsigned char> encoded;
  if (!cv::imencode(extension, frame->pixels, encoded)) {
    throw ValueError("Failed to encode frame as " + output_format);
  }
  return qorl_core::Bytes(encoded.data(), encoded.size());
}

}  // namespace

qorl_core::Bytes extract_video_frame_at_timestamp(const std::string& video_path, double timestamp,
                                                  const std::string& output_format) {
  logger().debug("Extracting frame from " + video_path + " at timestamp " + number_text(timestamp) +
                 "s");
  std::error_code ignored;
  if (!std::filesystem::exists(video_path, ignored)) {
    throw qorl_core::FileNotFoundError("Video file not found: " + video_path);
  }
  if (timestamp < 0) {
    throw ValueError("Timestamp must be non-negative, got: " + number_text(timestamp));
  }

  qorl_core::Bytes image;
  try {
    image = read_and_encode(video_path, timestamp, output_format);
  } catch (const std::exception& error) {
    std::throw_with_nested(ValueError("Error extracting frame from video " + video_path +
                                      " at timestamp " + number_text(timestamp) +
                                      "s: " + error.what()));
  }
  logger().debug("Successfully extracted frame at " + number_text(timestamp) + "s");
  return image;
}

boost::asio::awaitable<VideoBinary> get_video_binary(qorl_core::Value video_source) {
  return media_source_utils::get_media_binary(std::move(video_source), kVideo);
}

}  // namespace qorl_multimodal::utils::video_utils
