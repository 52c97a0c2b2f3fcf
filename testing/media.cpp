#include "testing/media.hpp"

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <stdexcept>

namespace qorl_testing {

void write_solid_colour_video(const std::filesystem::path& path, int frame_count, double fps,
                              const std::function<Bgr(int)>& colour_of) {
  cv::VideoWriter writer(path.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, cv::Size(64, 48));
  if (!writer.isOpened()) throw std::runtime_error("cannot write test video " + path.string());
  for (int i = 0; i < frame_count; ++i) {
    const Bgr c = colour_of(i);
    writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(c[0], c[1], c[2])));
  }
}

// Two channels in steps of 16 give 256 distinct frames; red stays fixed.
Bgr colour_for_frame(int index) { return {(index % 16) * 16 + 8, (index / 16) * 16 + 8, 128}; }

int frame_for_colour(const Bgr& colour) {
  const int low = static_cast<int>(std::lround((colour[0] - 8) / 16.0));
  const int high = static_cast<int>(std::lround((colour[1] - 8) / 16.0));
  return high * 16 + low;
}

}  // namespace qorl_testing
