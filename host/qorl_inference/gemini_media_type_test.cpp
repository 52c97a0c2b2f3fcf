#include "qorl_inference/gemini_media_type.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "qorl_inference/exceptions.hpp"

namespace qorl_inference {
namespace {

TEST(GeminiMediaTypeTest, DetectedNamesBecomeTheDocumentedOnes) {
  const std::pair<const char*, const char*> cases[] = {
      {"audio/x-wav", "audio/wav"},     {"audio/wave", "audio/wav"},
      {"audio/x-flac", "audio/flac"},   {"audio/mpeg", "audio/mp3"},
      {"audio/x-aiff", "audio/aiff"},   {"audio/aac", "audio/aac"},
      {"audio/ogg", "audio/ogg"},       {"video/quicktime", "video/mov"},
      {"video/x-msvideo", "video/avi"}, {"video/x-ms-asf", "video/wmv"},
      {"video/mp4", "video/mp4"},       {"video/webm", "video/webm"},
      {"image/jpeg", "image/jpeg"},     {"application/pdf", "application/pdf"},
  };
  for (const auto& [detected, documented] : cases) {
    EXPECT_EQ(gemini_media_type(detected), documented) << detected;
  }
  // Every answer is itself documented.
  for (const auto type : gemini_media_types()) EXPECT_EQ(gemini_media_type(type), type);
}

TEST(GeminiMediaTypeTest, OtherTypesAreRefusedNamingTheTypeAndTheList) {
  for (const char* refused :
       {"video/x-matroska", "image/gif", "audio/x-m4a", "application/octet-stream", ""}) {
    try {
      gemini_media_type(refused);
      ADD_FAILURE() << "no BaseInvokerError for " << refused;
    } catch (const BaseInvokerError& error) {
      const std::string message = error.what();
      EXPECT_NE(message.find(std::string("'") + refused + "'"), std::string::npos) << message;
      for (const auto type : gemini_media_types()) {
        EXPECT_NE(message.find(type), std::string::npos) << type;
      }
    }
  }
}

}  // namespace
}  // namespace qorl_inference
