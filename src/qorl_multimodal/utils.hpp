// Utility functions for multimodal modules.
#pragma once

#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/gdrive_utils.hpp"
#include "qorl_multimodal/utils/image_metadata_utils.hpp"
#include "qorl_multimodal/utils/image_utils.hpp"
#include "qorl_multimodal/utils/s3_utils.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"
#include "qorl_multimodal/utils/video_utils.hpp"

namespace qorl_multimodal::utils {

using audio_to_text_utils::is_binary_data_audio;
using audio_to_text_utils::get_audio_from_base64;
using audio_to_text_utils::get_audio_from_file_path;
using audio_to_text_utils::get_audio_from_downloadable_url;
using audio_to_text_utils::get_audio_from_youtube_url;
using audio_to_text_utils::get_audio_duration;
using audio_to_text_utils::convert_audio_to_mono_flac;
using audio_to_text_utils::is_youtube_url;
using image_utils::combine_strings;
using source_utils::get_file_from_file_path;
using gdrive_utils::get_file_from_gdrive;
using s3_utils::get_file_from_s3;
using source_utils::get_file_from_url;
using image_metadata_utils::get_image_metadata;
using image_utils::get_unique_non_empty_strings;
using video_utils::extract_video_frame_at_timestamp;

}  // namespace qorl_multimodal::utils
