// One frame of a local video file, decoded with libavformat/libavcodec: seek to the key frame
// before it and decode forward, with the decoder's frame threads.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <opencv2/core/mat.hpp>

namespace qorl_multimodal::utils::video_frame_reader {

struct Frame {
  cv::Mat pixels;  // blue-green-red, 8 bits per channel
  long long index = 0;
};

// Sends libav's own messages to the debug log of qorl_multimodal.utils.video_utils.libav instead
// of standard error; for every use of libav in the process.
void route_libav_log();

class VideoFrameReader {
 public:
  // None when the file has no decodable video stream. libav's own messages go to the debug log
  // of qorl_multimodal.utils.video_utils.libav, never to standard error.
  static std::optional<VideoFrameReader> open(const std::string& path);

  VideoFrameReader(VideoFrameReader&&) noexcept;
  VideoFrameReader& operator=(VideoFrameReader&&) noexcept;
  ~VideoFrameReader();

  // Frames per second: the stream's average rate, else its base rate; 0 when unknown.
  double fps() const;
  // The container's frame count, else the duration times the rate, rounded.
  long long frame_count() const;

  // The first frame whose index (its presentation time times fps(), rounded) is at least
  // `index`, or the last frame when the stream ends before it; none when nothing decodes.
  // Frames are numbered from the stream's start time.
  std::optional<Frame> read_frame(long long index);

  // The first frame of a reader just opened, decoded without seeking (an animated image has
  // no index to seek in); none when nothing decodes.
  std::optional<Frame> first_frame();

 private:
  struct State;
  explicit VideoFrameReader(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace qorl_multimodal::utils::video_frame_reader
