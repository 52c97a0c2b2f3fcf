// Every package header states its description and brings in exactly its export list, in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "testing/source_files.hpp"

namespace {

struct Package {
  std::string header;
  std::string description;
  std::vector<std::string> exports;
};

std::vector<std::string> exported_names(const std::string& header_text) {
  static const std::regex using_declaration(R"(\busing\s+[\w:]+::(\w+)\s*;)");
  std::vector<std::string> names;
  for (std::sregex_iterator it(header_text.begin(), header_text.end(), using_declaration), end;
       it != end; ++it) {
    names.push_back((*it)[1]);
  }
  return names;
}

const std::vector<Package>& packages() {
  static const std::vector<Package> table = {
      {"qorl_multimodal.hpp", "Module that manage multimodality for Gen AI apllication.", {}},
      {"qorl_multimodal/builder.hpp",
       "Modules concerning the builder utilities of QORL Multimodal modules.",
       {"build_modality_converter"}},
      {"qorl_multimodal/modality_converter.hpp",
       "Modules concerning multimodal in Gen AI applications.",
       {}},
      {"qorl_multimodal/modality_converter/schema.hpp",
       "Schema definitions for image-to-text operations.",
       {"AudioTranscript", "Caption", "TextResult"}},
      {"qorl_multimodal/modality_converter/audio_to_text.hpp",
       "Modules concerning the audio to text process in Gen AI applications.",
       {"GeminiAudioToText", "GoogleCloudAudioToText", "ProsaAudioToText",
        "OpenAIWhisperAudioToText", "YouTubeTranscriptAudioToText"}},
      {"qorl_multimodal/modality_converter/image_to_text.hpp",
       "Image-to-text conversion module providing OCR and captioning capabilities.",
       {}},
      {"qorl_multimodal/modality_converter/image_to_text/image_to_caption.hpp",
       "Image-to-caption modules for generating descriptive captions from images.",
       {"LMBasedImageToCaption"}},
      {"qorl_multimodal/modality_converter/image_to_text/image_to_mermaid.hpp",
       "Image-to-mermaid modules for generating mermaid syntax from chart images.",
       {"LMBasedImageToMermaid"}},
      {"qorl_multimodal/modality_converter/video_to_text.hpp", "Video to text module.", {}},
      {"qorl_multimodal/modality_converter/video_to_text/video_to_caption.hpp",
       "Video-to-caption modules for generating descriptive captions from videos.",
       {"LMBasedVideoToCaption"}},
      {"qorl_multimodal/modality_transformer.hpp",
       "Modules concerning the modality transformers used in Gen AI applications.",
       {}},
      {"qorl_multimodal/modality_transformer/image_modality_transformer.hpp",
       "A modality transformer that takes an image input and outputs to query/bytes.",
       {"GenericImageModalityTransformer"}},
      {"qorl_multimodal/modality_transformer/image_modality_transformer/"
       "standard_image_modality_transformer.hpp",
       "A standard transformer that leverage router to take an image input and outputs to "
       "query/bytes.",
       {"StandardImageModalityTransformer"}},
      {"qorl_multimodal/utils.hpp",
       "Utility functions for multimodal modules.",
       {"is_binary_data_audio", "get_audio_from_base64", "get_audio_from_file_path",
        "get_audio_from_downloadable_url", "get_audio_from_youtube_url", "get_audio_duration",
        "convert_audio_to_mono_flac", "is_youtube_url", "combine_strings",
        "get_file_from_file_path", "get_file_from_gdrive", "get_file_from_s3", "get_file_from_url",
        "get_image_metadata", "get_unique_non_empty_strings", "extract_video_frame_at_timestamp"}},
  };
  return table;
}

TEST(PackageExportsTest, EachPackageStatesItsDescriptionAndExportsItsListInOrder) {
  for (const auto& package : packages()) {
    SCOPED_TRACE(package.header);
    const std::string text = qorl_testing::read_source_file("src/" + package.header);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.substr(0, text.find('\n')), "// " + package.description);
    EXPECT_THAT(exported_names(text), ::testing::ElementsAreArray(package.exports));
  }
}

}  // namespace
