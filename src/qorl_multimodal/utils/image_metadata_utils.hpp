// Where a picture was taken, read from its EXIF GPS tags as signed decimal degrees.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qorl_core/logger_manager.hpp"
#include "qorl_core/value.hpp"

namespace qorl_multimodal::utils::image_metadata_utils {

struct Rational {
  std::int64_t numerator;
  std::int64_t denominator;
};

// One value of an EXIF tag: a rational (whole numbers have denominator 1), a floating-point
// number, or the text of a text tag.
using ExifValue = std::variant<Rational, double, std::string>;

struct ExifTag {
  std::vector<ExifValue> values;
  std::string printable;  // the tag's text form ("N" for a text tag)
};

// EXIF tags by directory name, one space and tag name: "GPS GPSLatitude", "Image Make", ...
using ExifTags = std::map<std::string, ExifTag, std::less<>>;

// The EXIF reader's own diagnostics go to this logger, which shares the module logger's
// handlers, level and propagation.
extern const std::shared_ptr<qorl_core::Logger> semantic_router_logger;

// "latitude" and/or "longitude" in decimal degrees (south and west negative), each present only
// when its coordinate and reference tags are there; empty without GPS data. Errors of the reader
// and malformed coordinates raise.
qorl_core::Map get_image_metadata(const qorl_core::Bytes& image_binary);

// The coordinate under `coordinate_tag` signed by the text under `reference_tag` ("S" and "W"
// negate), or none when either tag is missing.
std::optional<double> _extract_gps_coordinate(const ExifTags& tags, std::string_view coordinate_tag,
                                              std::string_view reference_tag);

// degrees + minutes / 60 + seconds / 3600 from the first three values; text values are parsed
// as decimal numbers. Fewer than three values raise IndexError, a non-number ValueError.
double _convert_gps_coordinates_exifread(const std::vector<ExifValue>& coordinate_values);

}  // namespace qorl_multimodal::utils::image_metadata_utils
