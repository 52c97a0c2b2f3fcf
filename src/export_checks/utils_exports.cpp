// Compiles: the utils package offers its sixteen functions.
#include <tuple>

#include "qorl_multimodal/utils.hpp"

namespace utils = qorl_multimodal::utils;

[[maybe_unused]] const auto exported = std::make_tuple(
    &utils::is_binary_data_audio, &utils::get_audio_from_base64, &utils::get_audio_from_file_path,
    &utils::get_audio_from_downloadable_url, &utils::get_audio_from_youtube_url,
    &utils::get_audio_duration, &utils::convert_audio_to_mono_flac, &utils::is_youtube_url,
    &utils::combine_strings, &utils::get_file_from_file_path, &utils::get_file_from_gdrive,
    &utils::get_file_from_s3, &utils::get_file_from_url, &utils::get_image_metadata,
    &utils::get_unique_non_empty_strings, &utils::extract_video_frame_at_timestamp,
    &utils::audio_to_text_utils::detect_audio_format, &utils::image_utils::get_image_binary);
