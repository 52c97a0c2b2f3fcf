#include "qorl_multimodal/utils/image_metadata_utils.hpp"

#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>
#include <opencv2/imgcodecs.hpp>

#include <random>

#include "qorl_core/errors.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"

namespace qorl_multimodal::utils::image_metadata_utils {
namespace {

using qorl_core::Bytes;
using Tags = std::vector<std::pair<std::string, std::string>>;

using qorl_testing::with_exif;

Bytes encode(const std::string& extension) { return qorl_testing::encode_image(extension); }

const Tags& kSanFrancisco = qorl_testing::kSanFranciscoGps;

TEST(GetImageMetadata, ReadsSignedDegreesFromJpeg) {
  const Bytes jpeg = encode(".jpg");
  EXPECT_TRUE(get_image_metadata(jpeg).empty());
  EXPECT_TRUE(get_image_metadata(with_exif(jpeg, {{"Exif.Image.Make", "Camera"}})).empty());

  auto both = get_image_metadata(with_exif(jpeg, kSanFrancisco));
  EXPECT_EQ(both.keys(), (std::vector<std::string>{"latitude", "longitude"}));
  EXPECT_DOUBLE_EQ(both.at("latitude").as_double(), 37.775);
  EXPECT_NEAR(both.at("longitude").as_double(), -122.41933, 1e-5);

  auto south = get_image_metadata(with_exif(jpeg, {{"Exif.GPSInfo.GPSLatitude", "37/1 46/1 30/1"},
                                                   {"Exif.GPSInfo.GPSLatitudeRef", "S"}}));
  EXPECT_EQ(south.keys(), (std::vector<std::string>{"latitude"}));
  EXPECT_DOUBLE_EQ(south.at("latitude").as_double(), -37.775);

  // Only "S" and "W" exactly negate.
  auto lower = get_image_metadata(with_exif(
      jpeg, {{"Exif.GPSInfo.GPSLatitude", "1/1 0/1 0/1"}, {"Exif.GPSInfo.GPSLatitudeRef", "s"}}));
  EXPECT_DOUBLE_EQ(lower.at("latitude").as_double(), 1.0);

  // A coordinate without its reference (and a reference without its coordinate) is skipped.
  EXPECT_TRUE(get_image_metadata(with_exif(jpeg, {{"Exif.GPSInfo.GPSLatitude", "37/1 46/1 30/1"},
                                                  {"Exif.GPSInfo.GPSLongitudeRef", "E"}}))
                  .empty());
}

TEST(GetImageMetadata, ReadsOtherContainersAndIgnoresUnknownFormats) {
  for (const std::string extension : {".png", ".webp", ".tiff"}) {
    SCOPED_TRACE(extension);
    auto metadata = get_image_metadata(with_exif(encode(extension), kSanFrancisco));
    ASSERT_TRUE(metadata.contains("latitude"));
    EXPECT_DOUBLE_EQ(metadata.at("latitude").as_double(), 37.775);
  }
  EXPECT_TRUE(get_image_metadata(Bytes(std::string("plain text, not an image"))).empty());
  EXPECT_TRUE(get_image_metadata(Bytes()).empty());
}

TEST(GetImageMetadata, CorruptExifRaisesOrReadsButNeverCrashes) {
  const Bytes jpeg = with_exif(encode(".jpg"), kSanFrancisco);
  const std::string original = jpeg.str();
  // Exif starts after the APP1 marker, length and "Exif\0\0".
  const size_t exif_start = original.find(std::string("Exif\0\0", 6)) + 6;
  ASSERT_NE(exif_start, std::string::npos + 6);

  // An IFD offset far past the end of the block.
  std::string broken = original;
  broken.replace(exif_start + 4, 4, std::string("\x7f\xff\xff\xf0", 4));
  EXPECT_THROW(get_image_metadata(Bytes(broken)), std::exception);

  qorl_testing::LogCapture quiet;  // the reader's complaints about the damage
  std::mt19937 random(7);
  for (int round = 0; round < 400; ++round) {
    std::string mutated = original;
    for (int flips = 1 + round % 8; flips > 0; --flips) {
      mutated[exif_start + random() % 160] = static_cast<char>(random());
    }
    try {
      get_image_metadata(Bytes(mutated));
    } catch (const std::exception&) {
    }
  }
}

TEST(GetImageMetadata, CoordinateConversion) {
  using V = std::vector<ExifValue>;
  EXPECT_DOUBLE_EQ(_convert_gps_coordinates_exifread(
                       V{Rational{10, 1}, 30.0, std::string(" 36 "), Rational{9, 1}}),
                   10.51);
  EXPECT_THROW(_convert_gps_coordinates_exifread(V{Rational{10, 1}, Rational{30, 1}}),
               qorl_core::IndexError);
  EXPECT_THROW(_convert_gps_coordinates_exifread(V{std::string("abc"), 1.0, 1.0}),
               qorl_core::ValueError);
  EXPECT_THROW(_convert_gps_coordinates_exifread(V{Rational{1, 0}, 1.0, 1.0}),
               qorl_core::ValueError);

  ExifTags tags{{"GPS GPSLongitude", {V{1.0, 0.0, 0.0}, "1 0 0"}},
                {"GPS GPSLongitudeRef", {V{std::string("W")}, "W"}}};
  EXPECT_EQ(_extract_gps_coordinate(tags, "GPS GPSLongitude", "GPS GPSLongitudeRef"), -1.0);
  EXPECT_EQ(_extract_gps_coordinate(tags, "GPS GPSLatitude", "GPS GPSLatitudeRef"), std::nullopt);
}

TEST(GetImageMetadata, ReaderDiagnosticsGoWhereTheModuleLogs) {
  auto module = qorl_core::LoggerManager().get_logger("qorl_multimodal.utils.image_metadata_utils");
  EXPECT_EQ(semantic_router_logger->handlers(), module->handlers());
  EXPECT_EQ(semantic_router_logger->level(), module->level());
  EXPECT_EQ(semantic_router_logger->propagate(), module->propagate());

  qorl_testing::LogCapture logs;
  Exiv2::LogMsg(Exiv2::LogMsg::warn).os() << "Directory GPSInfo has an unexpected next pointer\n";
  EXPECT_EQ(logs.messages(semantic_router_logger->name(), qorl_core::LogLevel::WARNING),
            std::vector<std::string>{"Directory GPSInfo has an unexpected next pointer"});
}

}  // namespace
}  // namespace qorl_multimodal::utils::image_metadata_utils
