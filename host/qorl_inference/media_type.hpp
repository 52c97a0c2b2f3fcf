// Media types of binary content: sniffed from the bytes with libmagic, and the customary file
// extension of a media type.
#pragma once

#include <string>
#include <string_view>

namespace qorl_inference {

// The MIME type libmagic reads from the content ("image/png", "application/x-empty" for nothing).
// Safe to call from several threads at once.
std::string sniff_mime_type(std::string_view data);

// The first extension libmagic lists for the content ("jpeg" of "jpeg/jpg/jpe/jfif"), without a
// dot; empty when it knows none.
std::string sniff_extension(std::string_view data);

// The customary extension, without a dot, of a common media type ("audio/mpeg" -> "mp3");
// empty when unknown.
std::string extension_for_mime_type(std::string_view mime_type);

// The media type a file extension customarily stands for ("mp4" -> "video/mp4"); empty when
// unknown. Case-insensitive, with or without the leading dot.
std::string mime_type_for_extension(std::string_view extension);

}  // namespace qorl_inference
