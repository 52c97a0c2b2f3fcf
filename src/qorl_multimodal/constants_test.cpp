#include "qorl_multimodal/constants.hpp"

#include <gtest/gtest.h>

#include <map>
#include <unordered_map>

namespace qorl_multimodal::constants {
namespace {

TEST(ConstantsTest, MembersEqualHashAndPrintAsTheirText) {
  EXPECT_TRUE(Modality::IMAGE == "image");
  std::unordered_map<Modality, int> by_member{{Modality::IMAGE, 1}};
  std::unordered_map<std::string, int, qorl_core::TextHash, std::equal_to<>> by_text{{"image", 2}};
  EXPECT_EQ(by_text.find(Modality::IMAGE.value())->second, 2);
  EXPECT_EQ(by_member.at(*Modality::from_value("image")), 1);
  EXPECT_EQ(fmt::format("task {}", ModalityConverterTask::AUTO), "task auto");
}

TEST(ConstantsTest, DebugFormsAndDeclarationOrder) {
  EXPECT_EQ(ModalityConverterApproach::LM_BASED.repr(),
            "<ModalityConverterApproach.LM_BASED: 'lm_based'>");
  EXPECT_EQ(Modality::IMAGE.repr(), "<Modality.IMAGE: 'image'>");
  std::vector<std::string> tasks;
  for (const auto& task : ModalityConverterTask::members()) tasks.push_back(task.str());
  EXPECT_EQ(tasks, (std::vector<std::string>{"captioning", "mermaid", "transcript", "auto"}));
  EXPECT_EQ(ModalityConverterApproach::members().size(), 6u);
  EXPECT_EQ(ModalityConverterApproach::members()[3], "google_cloud");
}

TEST(ConstantsTest, ConstantGroupValues) {
  static_assert(
      std::is_same_v<decltype(CaptionConstants::DEFAULT_NUMBER_OF_CAPTIONS), const std::int64_t>);
  EXPECT_EQ(CaptionConstants::DEFAULT_NUMBER_OF_CAPTIONS, 5);
  EXPECT_EQ(ImageToTextConstants::NO_IMAGE_FILENAME, "no_image_filename");
  EXPECT_EQ(ExifConstants::GPS_LONGITUDE_REF, "GPS GPSLongitudeRef");
}

}  // namespace
}  // namespace qorl_multimodal::constants
