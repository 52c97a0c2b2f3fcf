#include "qorl_multimodal/utils/video_frame_reader.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "qorl_core/logger_manager.hpp"
#include "qorl_core/text.hpp"

namespace qorl_multimodal::utils::video_frame_reader {
namespace {

// libav writes its diagnostics (a truncated file, a damaged packet) to standard error unless
// told otherwise; they belong in our debug log, under a logger of their own.
qorl_core::Logger& logger() {
  return qorl_core::module_logger<"qorl_multimodal.utils.video_utils.libav">();
}

void forward_libav_log(void* context, int level, const char* format, va_list args) {
  if (level > AV_LOG_WARNING || !logger().is_enabled_for(qorl_core::LogLevel::DEBUG)) return;
  thread_local int print_prefix = 1;
  char line[1024];
  av_log_format_line2(context, level, format, args, line, sizeof line, &print_prefix);
  const std::string_view text = qorl_core::trim_end(line, "\r\n");
  if (!text.empty()) logger().debug(std::string(text));
}

struct FormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ScalerFreer {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

}  // namespace

struct VideoFrameReader::State {
  std::unique_ptr<AVFormatContext, FormatCloser> format;
  std::unique_ptr<AVCodecContext, CodecFreer> codec;
  AVStream* stream = nullptr;
  std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
  FramePtr frame{av_frame_alloc()};
  FramePtr previous{av_frame_alloc()};
  std::unique_ptr<SwsContext, ScalerFreer> scaler;
  double fps = 0;
  std::int64_t start = 0;    // the stream's first presentation time, in its time base
  long long next_index = 0;  // the index given to a frame without a timestamp

  long long index_of(const AVFrame& f) const {
    if (f.best_effort_timestamp == AV_NOPTS_VALUE) return next_index;
    const double seconds =
        static_cast<double>(f.best_effort_timestamp - start) * av_q2d(stream->time_base);
    return std::llround(seconds * fps);
  }

  // Moves to the key frame at or before `timestamp`; false when the container cannot seek.
  bool seek(std::int64_t timestamp) {
    if (av_seek_frame(format.get(), stream->index, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
      return false;
    avcodec_flush_buffers(codec.get());
    return true;
  }

  struct Decoded {
    std::optional<Frame> frame;
    long long first_index = 0;
  };

  // Decodes forward to the first frame numbered `index` or later, else up to the last frame.
  Decoded decode_until(long long index) {
    Decoded result;
    bool decoded_any = false;
    bool draining = false;
    av_frame_unref(previous.get());
    long long previous_index = 0;
    for (;;) {
      const int received = avcodec_receive_frame(codec.get(), frame.get());
      if (received == 0) {
        const long long current = index_of(*frame);
        next_index = current + 1;
        if (!decoded_any) result.first_index = current;
        decoded_any = true;
        if (current >= index) {
          result.frame = Frame{to_bgr(*frame), current};
          av_frame_unref(frame.get());
          return result;
        }
        av_frame_unref(previous.get());
        av_frame_move_ref(previous.get(), frame.get());
        previous_index = current;
        continue;
      }
      if (received != AVERROR(EAGAIN) || draining) break;
      if (av_read_frame(format.get(), packet.get()) < 0) {
        avcodec_send_packet(codec.get(), nullptr);  // end of input: take the delayed frames
        draining = true;
        continue;
      }
      // A damaged packet is skipped, as players do; the frames after it may still decode.
      if (packet->stream_index == stream->index) avcodec_send_packet(codec.get(), packet.get());
      av_packet_unref(packet.get());
    }
    if (decoded_any) result.frame = Frame{to_bgr(*previous), previous_index};
    return result;
  }

  cv::Mat to_bgr(const AVFrame& f) {
    scaler.reset(sws_getCachedContext(scaler.release(), f.width, f.height,
                                      static_cast<AVPixelFormat>(f.format), f.width, f.height,
                                      AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler) return {};
    cv::Mat pixels(f.height, f.width, CV_8UC3);
    std::uint8_t* planes[1] = {pixels.data};
    const int strides[1] = {static_cast<int>(pixels.step)};
    sws_scale(scaler.get(), f.data, f.linesize, 0, f.height, planes, strides);
    return pixels;
  }
};

void route_libav_log() { av_log_set_callback(&forward_libav_log); }

std::optional<VideoFrameReader> VideoFrameReader::open(const std::string& path) {
  route_libav_log();
  auto state = std::make_unique<State>();
  if (!state->packet || !state->frame || !state->previous) return std::nullopt;

  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  state->format.reset(format);
  if (avformat_find_stream_info(format, nullptr) < 0) return std::nullopt;
  const AVCodec* decoder = nullptr;
  const int stream_index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (stream_index < 0 || !decoder) return std::nullopt;
  // The demuxer skips the packets of every other stream.
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (static_cast<int>(i) != stream_index) format->streams[i]->discard = AVDISCARD_ALL;
  }
  state->stream = format->streams[stream_index];

  state->codec.reset(avcodec_alloc_context3(decoder));
  if (!state->codec ||
      avcodec_parameters_to_context(state->codec.get(), state->stream->codecpar) < 0) {
    return std::nullopt;
  }
  state->codec->thread_count = 0;  // one per core
  state->codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (avcodec_open2(state->codec.get(), decoder, nullptr) < 0) return std::nullopt;

  const AVStream& stream = *state->stream;
  state->fps = av_q2d(stream.avg_frame_rate) > 0 ? av_q2d(stream.avg_frame_rate)
                                                 : av_q2d(stream.r_frame_rate);
  if (!std::isfinite(state->fps) || state->fps < 0) state->fps = 0;
  state->start = stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;
  return VideoFrameReader(std::move(state));
}

VideoFrameReader::VideoFrameReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
VideoFrameReader::VideoFrameReader(VideoFrameReader&&) noexcept = default;
VideoFrameReader& VideoFrameReader::operator=(VideoFrameReader&&) noexcept = default;
VideoFrameReader::~VideoFrameReader() = default;

double VideoFrameReader::fps() const { return state_->fps; }

long long VideoFrameReader::frame_count() const {
  const AVStream& stream = *state_->stream;
  if (stream.nb_frames > 0) return stream.nb_frames;
  double seconds = state_->format->duration == AV_NOPTS_VALUE
                       ? 0
                       : static_cast<double>(state_->format->duration) / AV_TIME_BASE;
  if (seconds <= 0 && stream.duration != AV_NOPTS_VALUE) {
    seconds = static_cast<double>(stream.duration) * av_q2d(stream.time_base);
  }
  return std::llround(seconds * state_->fps);
}

std::optional<Frame> VideoFrameReader::read_frame(long long index) {
  State& s = *state_;
  const double time_base = av_q2d(s.stream->time_base);
  const auto target = s.start + static_cast<std::int64_t>(std::llround(index / s.fps / time_base));
  // A key frame found for a presentation time may itself be shown after it (its decoding time
  // is earlier, with reordered frames): then step back further, doubling, down to the start.
  double back_seconds = 0;
  for (bool first_attempt = true;; first_attempt = false) {
    const std::int64_t aim =
        target - static_cast<std::int64_t>(std::llround(back_seconds / time_base));
    const bool from_start = aim <= s.start;
    if (!s.seek(from_start ? s.start : aim)) {
      // Nothing was read yet on the first attempt: decoding starts at the beginning.
      if (!first_attempt) return std::nullopt;
      s.next_index = 0;
      return s.decode_until(index).frame;
    }
    State::Decoded decoded = s.decode_until(index);
    if (from_start || (decoded.frame && decoded.first_index <= index))
      return std::move(decoded.frame);
    back_seconds = back_seconds == 0 ? 1 : 2 * back_seconds;
  }
}

std::optional<Frame> VideoFrameReader::first_frame() { return state_->decode_until(0).frame; }

}  // namespace qorl_multimodal::utils::video_frame_reader
