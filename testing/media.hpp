// Media made by the tests themselves: no binary fixtures in the repository.
#pragma once

#include <array>
#include <filesystem>
#include <functional>

namespace qorl_testing {

// Blue, green, red of one pixel, 0..255 each.
using Bgr = std::array<int, 3>;

// Writes a Motion-JPEG AVI of `frame_count` solid-colour 64x48 frames at `fps`; frame i is
// filled with colour_of(i).
void write_solid_colour_video(const std::filesystem::path& path, int frame_count, double fps,
                              const std::function<Bgr(int)>& colour_of);

// A colour per frame index that survives lossy compression and reads back by nearest step.
Bgr colour_for_frame(int index);
int frame_for_colour(const Bgr& colour);

}  // namespace qorl_testing
