// The media types the Gemini API documents, and the name it documents for a type as libmagic
// or a file extension gives it ("audio/x-wav" is "audio/wav" there). Requests carry only these:
// the service drops parts whose type it does not recognise.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace qorl_inference {

// Every media type the service documents for inline data and files.
std::span<const std::string_view> gemini_media_types() noexcept;

// Whether the service documents `detected`, under that name or another.
bool gemini_documents(std::string_view detected) noexcept;

// The documented types that start with `prefix` ("image/"; empty: all), comma-separated.
std::string gemini_documented_list(std::string_view prefix = "");

// The documented name of `detected` (itself when already documented); BaseInvokerError naming
// the type and the documented list when the service takes no such type.
std::string gemini_media_type(std::string_view detected);

}  // namespace qorl_inference
