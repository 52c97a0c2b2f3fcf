// The video id of a YouTube link, read from the link alone (no network), for callers that need
// to know which video a link names before anything is fetched.
#pragma once

#include <optional>
#include <string>

namespace qorl_multimodal::utils::youtube_video_id {

// "dQw4w9WgXcQ" for youtube.com/watch?v=dQw4w9WgXcQ, youtu.be/dQw4w9WgXcQ, /shorts/, /embed/ and
// links with the id among other query parameters; none for anything else (a playlist, a
// channel, another site).
std::optional<std::string> youtube_video_id(const std::string& url);

}  // namespace qorl_multimodal::utils::youtube_video_id
