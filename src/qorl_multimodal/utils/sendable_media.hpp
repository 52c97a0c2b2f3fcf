// Media in the types the model service documents. The service drops a part whose type it does
// not document and answers without it, so media of any other type is converted before it is
// sent: images to PNG, audio to FLAC, video to MP4. What cannot be converted is refused with an
// error naming its type and the documented ones, never sent to come back empty.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <filesystem>
#include <memory>
#include <vector>

#include "qorl_inference/attachment.hpp"

namespace qorl_multimodal::utils::sendable_media {

using qorl_inference::Attachment;

// Each in-memory image of an undocumented type (GIF, BMP, TIFF, ...) replaced by a PNG of it, of
// an animation its first frame; everything else as it is. ValueError naming the type and the
// documented image types for an image that neither OpenCV nor libav decodes.
void convert_undocumented_images(std::vector<std::shared_ptr<Attachment>>& attachments);

// The video itself when its type is documented or it is a link; else its MP4 (the streams copied,
// or encoded again when MP4 cannot hold them). ValueError naming the type and the documented
// video types when ffmpeg cannot convert it.
boost::asio::awaitable<std::shared_ptr<Attachment>> sendable_video(
    std::shared_ptr<Attachment> video);

// `audio`, read from the file at `path`, when its type is documented (Ogg holding Vorbis, not
// Opus), else ffmpeg's FLAC of that file. ValueError naming the type and the documented audio
// types when ffmpeg cannot convert it.
boost::asio::awaitable<std::shared_ptr<Attachment>> sendable_audio_file(
    std::shared_ptr<Attachment> audio, std::filesystem::path path);

}  // namespace qorl_multimodal::utils::sendable_media
