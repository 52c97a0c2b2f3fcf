#include "testing/media.hpp"

#include <cmath>
#include <exiv2/exiv2.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <stdexcept>

#include "clients/process/process.hpp"
#include "testing/run_program.hpp"

namespace qorl_testing {

void write_solid_colour_video(const std::filesystem::path& path, int frame_count, double fps,
                              const std::function<Bgr(int)>& colour_of) {
  const int fourcc = path.extension() == ".mp4" ? cv::VideoWriter::fourcc('m', 'p', '4', 'v')
                                                : cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
  cv::VideoWriter writer(path.string(), fourcc, fps, cv::Size(64, 48));
  if (!writer.isOpened()) throw std::runtime_error("cannot write test video " + path.string());
  for (int i = 0; i < frame_count; ++i) {
    const Bgr c = colour_of(i);
    writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(c[0], c[1], c[2])));
  }
}

void write_h264_copy(const std::filesystem::path& video, const std::filesystem::path& out, int gop,
                     int b_frames) {
  const auto result = qorl_testing::run_process(
      {"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", video.string(), "-c:v", "libx264",
       "-pix_fmt", "yuv420p", "-g", std::to_string(gop), "-bf", std::to_string(b_frames),
       // Fixed B-frame runs and key frames only at the GOP boundaries.
       "-x264-params", "b-adapt=0:scenecut=0", out.string()});
  if (result.exit_code != 0) throw std::runtime_error("ffmpeg failed: " + result.err);
}

void write_with_ffmpeg(const std::vector<std::string>& arguments,
                       const std::filesystem::path& out) {
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  argv.push_back(out.string());
  const auto result = qorl_testing::run_process(std::move(argv));
  if (result.exit_code != 0) throw std::runtime_error("ffmpeg failed: " + result.err);
}

// Steps of 16 in blue and green count 256 frames; red steps up from 128 once per 256 frames,
// which gives 2048 distinct frames.
Bgr colour_for_frame(int index) {
  return {(index % 16) * 16 + 8, (index / 16 % 16) * 16 + 8, 128 + index / 256 * 16};
}

int frame_for_colour(const Bgr& colour) {
  const int low = static_cast<int>(std::lround((colour[0] - 8) / 16.0));
  const int middle = static_cast<int>(std::lround((colour[1] - 8) / 16.0));
  const int high = static_cast<int>(std::lround((colour[2] - 128) / 16.0));
  return high * 256 + middle * 16 + low;
}

qorl_core::Bytes encode_image(const std::string& extension, const Bgr& colour) {
  const cv::Mat pixels(16, 16, CV_8UC3, cv::Scalar(colour[0], colour[1], colour[2]));
  std::vector<uchar> out;
  if (!cv::imencode(extension, pixels, out)) throw std::runtime_error("cannot encode " + extension);
  return qorl_core::Bytes(out.data(), out.size());
}

qorl_core::Bytes with_exif(const qorl_core::Bytes& image_bytes, const ExifTags& tags) {
  auto image = Exiv2::ImageFactory::open(image_bytes.data(), static_cast<long>(image_bytes.size()));
  image->readMetadata();
  Exiv2::ExifData exif;
  for (const auto& [key, value] : tags) exif[key] = value;
  image->setExifData(exif);
  image->writeMetadata();
  Exiv2::BasicIo& io = image->io();
  io.seek(0, Exiv2::BasicIo::beg);
  Exiv2::DataBuf buffer = io.read(static_cast<long>(io.size()));
  return qorl_core::Bytes(buffer.pData_, static_cast<std::size_t>(buffer.size_));
}

const ExifTags kSanFranciscoGps = {{"Exif.GPSInfo.GPSLatitude", "37/1 46/1 30/1"},
                                   {"Exif.GPSInfo.GPSLatitudeRef", "N"},
                                   {"Exif.GPSInfo.GPSLongitude", "122/1 25/1 96/10"},
                                   {"Exif.GPSInfo.GPSLongitudeRef", "W"}};

}  // namespace qorl_testing
