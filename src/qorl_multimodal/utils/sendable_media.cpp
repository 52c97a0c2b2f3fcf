#include "qorl_multimodal/utils/sendable_media.hpp"

#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <string>
#include <string_view>

#include "clients/common/files.hpp"
#include "clients/ffmpeg/ffmpeg.hpp"
#include "qorl_core/blocking_work.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_inference/gemini_media_type.hpp"
#include "qorl_multimodal/utils/video_frame_reader.hpp"

namespace qorl_multimodal::utils::sendable_media {
namespace {

namespace fs = std::filesystem;
using qorl_core::Bytes;

qorl_core::Logger& logger() {
  return qorl_core::module_logger<"qorl_multimodal.utils.sendable_media">();
}

// ValueError for media of `type` that could not become `target`, with why nested in it.
[[noreturn]] void refuse(const std::string& kind, const std::string& type,
                         const std::string& target, const std::exception_ptr& cause) {
  qorl_core::throw_with_cause(
      qorl_core::ValueError("The model service does not take " + kind + " of type " +
                            qorl_core::repr(type) + " and it could not be converted to " + target +
                            "; it takes " + qorl_inference::gemini_documented_list(kind + "/")),
      cause);
}

// The first frame of anything libav decodes as video (a GIF, an animated WebP, ...).
cv::Mat first_frame(const Bytes& image) {
  const clients::common::TemporaryFile file("qorl-image", image.view());
  auto reader = video_frame_reader::VideoFrameReader::open(file.path().string());
  if (!reader) return {};
  auto frame = reader->first_frame();
  return frame ? frame->pixels : cv::Mat{};
}

std::optional<Bytes> png_of(const Bytes& image) {
  cv::Mat pixels;
  try {
    const cv::Mat encoded(1, static_cast<int>(image.size()), CV_8UC1,
                          const_cast<char*>(image.str().data()));
    pixels = cv::imdecode(encoded, cv::IMREAD_COLOR);
  } catch (const cv::Exception& error) {
    logger().debug(std::string("OpenCV does not decode the image: ") + error.what());
  }
  // OpenCV reads no GIF.
  if (pixels.empty()) pixels = first_frame(image);
  std::vector<uchar> png;
  if (pixels.empty() || !cv::imencode(".png", pixels, png)) return std::nullopt;
  return Bytes(std::string(png.begin(), png.end()));
}

// Ogg is documented with Vorbis in it; Opus in Ogg is not.
bool holds_opus(const Bytes& audio) {
  return audio.view().starts_with("OggS") &&
         audio.view().substr(0, 512).find("OpusHead") != std::string_view::npos;
}

bool documented(const Attachment& attachment) {
  if (!qorl_inference::gemini_documents(attachment.mime_type)) return false;
  return attachment.mime_type != "audio/ogg" || !holds_opus(attachment.data);
}

}  // namespace

void convert_undocumented_images(std::vector<std::shared_ptr<Attachment>>& attachments) {
  for (auto& attachment : attachments) {
    if (attachment->is_url() || !attachment->mime_type.starts_with("image/") ||
        documented(*attachment)) {
      continue;
    }
    std::optional<Bytes> png = png_of(attachment->data);
    if (!png) refuse("image", attachment->mime_type, "PNG", nullptr);
    logger().debug("Sending the image of type %s as PNG", attachment->mime_type);
    attachment = Attachment::from_bytes(std::move(*png), attachment->filename);
  }
}

boost::asio::awaitable<std::shared_ptr<Attachment>> sendable_video(
    std::shared_ptr<Attachment> video) {
  if (video->is_url() || documented(*video)) co_return video;
  const clients::common::TemporaryDirectory directory("qorl-video");
  const fs::path input = directory.path() / "input";
  const fs::path output = directory.path() / "video.mp4";
  std::exception_ptr failure;
  try {
    std::ofstream(input, std::ios::binary)
        .write(video->data.str().data(), static_cast<std::streamsize>(video->data.size()));
    auto converting = clients::ffmpeg::async_convert_to_mp4(input, output);
    co_await qorl_core::holding_a_blocking_thread(std::move(converting));
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error)) throw;
    failure = std::current_exception();
  }
  if (failure) refuse("video", video->mime_type, "MP4", failure);
  logger().debug("Sending the video of type %s as MP4", video->mime_type);
  auto converted = Attachment::from_path(output);
  converted->filename = video->filename;
  co_return converted;
}

boost::asio::awaitable<std::shared_ptr<Attachment>> sendable_audio_file(
    std::shared_ptr<Attachment> audio, fs::path path) {
  if (documented(*audio)) co_return audio;
  const clients::common::TemporaryDirectory directory("qorl-audio");
  const fs::path flac = directory.path() / "audio.flac";
  std::exception_ptr failure;
  try {
    auto transcoding = clients::ffmpeg::async_transcode_to_flac(path, flac);
    co_await qorl_core::holding_a_blocking_thread(std::move(transcoding));
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error)) throw;
    failure = std::current_exception();
  }
  if (failure) refuse("audio", audio->mime_type, "FLAC", failure);
  logger().debug("Sending the audio of type %s as FLAC", audio->mime_type);
  auto converted = Attachment::from_path(flac);
  converted->filename = audio->filename;
  co_return converted;
}

}  // namespace qorl_multimodal::utils::sendable_media
