// Shared vocabulary: the modality, task and approach enumerations and the fixed values used by
// captioning, image handling and EXIF reading.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "qorl_core/string_enum.hpp"

namespace qorl_multimodal::constants {

// Defines supported modalities.
class Modality : public qorl_core::StringEnum<Modality> {
 public:
  using StringEnum::StringEnum;
  static constexpr std::string_view kEnumName = "Modality";
  static const Modality IMAGE, TEXT, AUDIO, VIDEO;
  static std::span<const Modality> members();
};
inline constexpr Modality Modality::IMAGE{"IMAGE", "image"};
inline constexpr Modality Modality::TEXT{"TEXT", "text"};
inline constexpr Modality Modality::AUDIO{"AUDIO", "audio"};
inline constexpr Modality Modality::VIDEO{"VIDEO", "video"};

// Defines supported modality converter approach types.
class ModalityConverterApproach : public qorl_core::StringEnum<ModalityConverterApproach> {
 public:
  using StringEnum::StringEnum;
  static constexpr std::string_view kEnumName = "ModalityConverterApproach";
  static const ModalityConverterApproach LM_BASED, WHISPER, GEMINI, GOOGLE_CLOUD, PROSA, YOUTUBE;
  static std::span<const ModalityConverterApproach> members();
};
inline constexpr ModalityConverterApproach ModalityConverterApproach::LM_BASED{"LM_BASED",
                                                                               "lm_based"};
inline constexpr ModalityConverterApproach ModalityConverterApproach::WHISPER{"WHISPER", "whisper"};
inline constexpr ModalityConverterApproach ModalityConverterApproach::GEMINI{"GEMINI", "gemini"};
inline constexpr ModalityConverterApproach ModalityConverterApproach::GOOGLE_CLOUD{"GOOGLE_CLOUD",
                                                                                   "google_cloud"};
inline constexpr ModalityConverterApproach ModalityConverterApproach::PROSA{"PROSA", "prosa"};
inline constexpr ModalityConverterApproach ModalityConverterApproach::YOUTUBE{"YOUTUBE", "youtube"};

// Defines supported modality converter tasks.
class ModalityConverterTask : public qorl_core::StringEnum<ModalityConverterTask> {
 public:
  using StringEnum::StringEnum;
  static constexpr std::string_view kEnumName = "ModalityConverterTask";
  static const ModalityConverterTask CAPTIONING, MERMAID, TRANSCRIPT, AUTO;
  static std::span<const ModalityConverterTask> members();
};
inline constexpr ModalityConverterTask ModalityConverterTask::CAPTIONING{"CAPTIONING",
                                                                         "captioning"};
inline constexpr ModalityConverterTask ModalityConverterTask::MERMAID{"MERMAID", "mermaid"};
inline constexpr ModalityConverterTask ModalityConverterTask::TRANSCRIPT{"TRANSCRIPT",
                                                                         "transcript"};
inline constexpr ModalityConverterTask ModalityConverterTask::AUTO{"AUTO", "auto"};

inline std::span<const Modality> Modality::members() {
  static constexpr std::array kMembers{IMAGE, TEXT, AUDIO, VIDEO};
  return kMembers;
}
inline std::span<const ModalityConverterApproach> ModalityConverterApproach::members() {
  static constexpr std::array kMembers{LM_BASED, WHISPER, GEMINI, GOOGLE_CLOUD, PROSA, YOUTUBE};
  return kMembers;
}
inline std::span<const ModalityConverterTask> ModalityConverterTask::members() {
  static constexpr std::array kMembers{CAPTIONING, MERMAID, TRANSCRIPT, AUTO};
  return kMembers;
}

// Constants for image-to-text operations in Gen AI applications.
struct ImageToTextConstants {
  static constexpr std::string_view NOT_GIVEN = "not_given";
  static constexpr std::string_view FILENAME = "filename";
  static constexpr std::string_view NO_IMAGE_FILENAME = "no_image_filename";
};

// Constants for caption operations in Gen AI applications.
struct CaptionConstants {
  static constexpr std::string_view CAPTION_DEFAULT_JSON_KEY = "captions";
  static constexpr std::string_view DOMAIN_KNOWLEDGE = "domain_knowledge";
  static constexpr std::string_view IMAGE_DESCRIPTION = "image_description";
  static constexpr std::string_view IMAGE_METADATA = "image_metadata";
  static constexpr std::string_view IMAGE_ONE_LINER = "image_one_liner";
  static constexpr std::string_view NUMBER_OF_CAPTIONS = "number_of_captions";
  static constexpr std::string_view ATTACHMENTS_CONTEXT = "attachments_context";
  static constexpr std::int64_t DEFAULT_NUMBER_OF_CAPTIONS = 5;
};

// Constants for EXIF tag operations in image metadata extraction.
struct ExifConstants {
  static constexpr std::string_view GPS_LATITUDE = "GPS GPSLatitude";
  static constexpr std::string_view GPS_LATITUDE_REF = "GPS GPSLatitudeRef";
  static constexpr std::string_view GPS_LONGITUDE = "GPS GPSLongitude";
  static constexpr std::string_view GPS_LONGITUDE_REF = "GPS GPSLongitudeRef";
  static constexpr std::string_view GPS_SOUTH = "S";
  static constexpr std::string_view GPS_WEST = "W";
  static constexpr std::string_view LATITUDE = "latitude";
  static constexpr std::string_view LONGITUDE = "longitude";
};

}  // namespace qorl_multimodal::constants
