#include "qorl_multimodal/utils/youtube_video_id.hpp"

#include <gtest/gtest.h>

namespace qorl_multimodal::utils::youtube_video_id {
namespace {

TEST(YoutubeVideoIdTest, EveryFormOfALinkGivesTheSameIdAndOtherLinksNone) {
  for (const std::string link :
       {"https://www.youtube.com/watch?v=dQw4w9WgXcQ", "https://youtu.be/dQw4w9WgXcQ?t=42",
        "youtube.com/shorts/dQw4w9WgXcQ", "https://m.youtube.com/embed/dQw4w9WgXcQ",
        "https://www.youtube.com/watch?feature=share&v=dQw4w9WgXcQ"}) {
    EXPECT_EQ(youtube_video_id(link), "dQw4w9WgXcQ") << link;
  }
  for (const std::string other :
       {"https://www.youtube.com/playlist?list=PL123", "https://example.com/watch?v=dQw4w9WgXcQ",
        "https://www.youtube.com/watch?v=dQw4w9WgXcQextra", "dQw4w9WgXcQ"}) {
    EXPECT_EQ(youtube_video_id(other), std::nullopt) << other;
  }
}

}  // namespace
}  // namespace qorl_multimodal::utils::youtube_video_id
