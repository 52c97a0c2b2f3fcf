#include "qorl_multimodal/utils/image_metadata_utils.hpp"

#include <exiv2/exiv2.hpp>

#include <charconv>

#include "qorl_core/errors.hpp"
#include "qorl_core/text.hpp"
#include "qorl_multimodal/constants.hpp"

namespace qorl_multimodal::utils::image_metadata_utils {
namespace {

using constants::ExifConstants;

void forward_reader_message(int level, const char* text) {
  std::string_view message(text ? text : "");
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.remove_suffix(1);
  auto& logger = *semantic_router_logger;
  switch (level) {
    case Exiv2::LogMsg::debug: logger.debug(std::string(message)); break;
    case Exiv2::LogMsg::info: logger.info(std::string(message)); break;
    case Exiv2::LogMsg::warn: logger.warning(std::string(message)); break;
    default: logger.error(std::string(message)); break;
  }
}

std::shared_ptr<qorl_core::Logger> route_reader_diagnostics() {
  const auto logger =
      qorl_core::LoggerManager().get_logger("qorl_multimodal.utils.image_metadata_utils");
  auto reader_logger = qorl_core::LoggerManager().get_logger("exiv2");
  reader_logger->set_handlers(logger->handlers());
  reader_logger->set_level(logger->level());
  reader_logger->set_propagate(logger->propagate());
  // Before any use from several threads, as Exiv2 asks.
  Exiv2::XmpParser::initialize();
  // Every message reaches the logger, whose level decides.
  Exiv2::LogMsg::setLevel(Exiv2::LogMsg::debug);
  Exiv2::LogMsg::setHandler(&forward_reader_message);
  return reader_logger;
}

// Exiv2 group names as the tag naming scheme calls the directories; maker notes are skipped.
std::optional<std::string_view> directory_name(const std::string& group) {
  static const std::map<std::string, std::string_view, std::less<>> kDirectories = {
      {"Image", "Image"},
      {"Photo", "EXIF"},
      {"GPSInfo", "GPS"},
      {"Iop", "Interoperability"},
      {"Thumbnail", "Thumbnail"}};
  auto it = kDirectories.find(group);
  if (it == kDirectories.end()) return std::nullopt;
  return it->second;
}

ExifTag to_tag(const Exiv2::Exifdatum& datum) {
  ExifTag tag;
  tag.printable = datum.toString();
  const Exiv2::Value& value = datum.value();
  const long count = value.count();
  switch (value.typeId()) {
    case Exiv2::asciiString: tag.values.emplace_back(value.toString()); break;
    case Exiv2::unsignedRational:
    case Exiv2::signedRational:
      for (long i = 0; i < count; ++i) {
        auto [numerator, denominator] = value.toRational(i);
        tag.values.emplace_back(Rational{numerator, denominator});
      }
      break;
    case Exiv2::tiffFloat:
    case Exiv2::tiffDouble:
      for (long i = 0; i < count; ++i)
        tag.values.emplace_back(static_cast<double>(value.toFloat(i)));
      break;
    default:
      for (long i = 0; i < count; ++i) tag.values.emplace_back(Rational{value.toLong(i), 1});
  }
  return tag;
}

ExifTags read_exif_tags(const qorl_core::Bytes& image_binary) {
  // No content is no known format (the reader would call it a read failure).
  if (image_binary.empty()) return {};
  Exiv2::Image::AutoPtr image;
  try {
    image = Exiv2::ImageFactory::open(image_binary.data(), static_cast<long>(image_binary.size()));
  } catch (const Exiv2::AnyError& error) {
    // A format the reader does not know carries no EXIF it can read.
    if (error.code() == Exiv2::kerMemoryContainsUnknownImageType) return {};
    throw;
  }
  image->readMetadata();
  ExifTags tags;
  for (const auto& datum : image->exifData()) {
    auto directory = directory_name(datum.groupName());
    if (!directory) continue;
    tags.insert_or_assign(std::string(*directory) + " " + datum.tagName(), to_tag(datum));
  }
  return tags;
}

double to_double(const ExifValue& value) {
  if (const auto* rational = std::get_if<Rational>(&value)) {
    if (rational->denominator == 0) throw qorl_core::ValueError("division by zero");
    return static_cast<double>(rational->numerator) / static_cast<double>(rational->denominator);
  }
  if (const auto* number = std::get_if<double>(&value)) return *number;
  const auto& text = std::get<std::string>(value);
  const std::string_view digits = qorl_core::strip(text);
  double parsed = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    throw qorl_core::ValueError("could not convert string to float: " + qorl_core::repr(text));
  }
  return parsed;
}

}  // namespace

const std::shared_ptr<qorl_core::Logger> semantic_router_logger = route_reader_diagnostics();

qorl_core::Map get_image_metadata(const qorl_core::Bytes& image_binary) {
  qorl_core::Map result;
  const ExifTags tags = read_exif_tags(image_binary);
  if (auto latitude = _extract_gps_coordinate(tags, ExifConstants::GPS_LATITUDE,
                                              ExifConstants::GPS_LATITUDE_REF)) {
    result.set(std::string(ExifConstants::LATITUDE), *latitude);
  }
  if (auto longitude = _extract_gps_coordinate(tags, ExifConstants::GPS_LONGITUDE,
                                               ExifConstants::GPS_LONGITUDE_REF)) {
    result.set(std::string(ExifConstants::LONGITUDE), *longitude);
  }
  return result;
}

std::optional<double> _extract_gps_coordinate(const ExifTags& tags, std::string_view coordinate_tag,
                                              std::string_view reference_tag) {
  auto coordinate = tags.find(coordinate_tag);
  auto reference = tags.find(reference_tag);
  if (coordinate == tags.end() || reference == tags.end()) return std::nullopt;
  double value = _convert_gps_coordinates_exifread(coordinate->second.values);
  const std::string& direction = reference->second.printable;
  if (direction == ExifConstants::GPS_WEST || direction == ExifConstants::GPS_SOUTH) value = -value;
  return value;
}

double _convert_gps_coordinates_exifread(const std::vector<ExifValue>& coordinate_values) {
  if (coordinate_values.size() < 3) throw qorl_core::IndexError("list index out of range");
  const double degrees = to_double(coordinate_values[0]);
  const double minutes = to_double(coordinate_values[1]);
  const double seconds = to_double(coordinate_values[2]);
  return degrees + minutes / 60 + seconds / 3600;
}

}  // namespace qorl_multimodal::utils::image_metadata_utils
