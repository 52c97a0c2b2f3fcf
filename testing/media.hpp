// Media made by the tests themselves: no binary fixtures in the repository.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "qorl_core/value.hpp"

namespace qorl_testing {

// Blue, green, red of one pixel, 0..255 each.
using Bgr = std::array<int, 3>;

// Writes a video of `frame_count` solid-colour 64x48 frames at `fps`; frame i is filled with
// colour_of(i). A path ending in .mp4 gives an MPEG-4 MP4, any other a Motion-JPEG AVI.
void write_solid_colour_video(const std::filesystem::path& path, int frame_count, double fps,
                              const std::function<Bgr(int)>& colour_of);

// Re-encodes `video` as H.264 in MP4 with a key frame every `gop` frames and always
// `b_frames` B-frames between references (the real ffmpeg program).
void write_h264_copy(const std::filesystem::path& video, const std::filesystem::path& out, int gop,
                     int b_frames);

// Writes `out` with the real ffmpeg program, `ffmpeg -y <arguments> <out>`: lavfi sources
// ("-f", "lavfi", "-i", "sine=duration=1") give media of any container without fixtures.
void write_with_ffmpeg(const std::vector<std::string>& arguments, const std::filesystem::path& out);

// A colour per frame index (up to 2048 frames) that survives lossy compression and reads back
// by nearest step.
Bgr colour_for_frame(int index);
int frame_for_colour(const Bgr& colour);

// A 16x16 solid-colour image encoded by OpenCV for `extension` (".png", ".jpg", ".webp", ...).
qorl_core::Bytes encode_image(const std::string& extension, const Bgr& colour = {40, 120, 200});

// EXIF tags by Exiv2 key with values in Exiv2's text form ("37/1 46/1 30/1").
using ExifTags = std::vector<std::pair<std::string, std::string>>;

// The image with these EXIF tags written in.
qorl_core::Bytes with_exif(const qorl_core::Bytes& image, const ExifTags& tags);

// 37°46'30" N, 122°25'9.6" W: latitude 37.775, longitude about -122.41933.
extern const ExifTags kSanFranciscoGps;

}  // namespace qorl_testing
