// The GPS position in a JPEG's EXIF data, beside the Python exifread package reading the same
// bytes (Debian python3-exifread) in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "bench/peers.hpp"
#include "qorl_multimodal/utils/image_metadata_utils.hpp"
#include "testing/media.hpp"
#include "testing/temp_dir.hpp"

namespace {

// A 640x480 photo-sized JPEG carrying a GPS position.
qorl_core::Bytes photo_with_gps() {
  cv::Mat pixels(480, 640, CV_8UC3);
  cv::randu(pixels, cv::Scalar::all(0), cv::Scalar::all(255));
  std::vector<uchar> jpeg;
  cv::imencode(".jpg", pixels, jpeg);
  return qorl_testing::with_exif(qorl_core::Bytes(jpeg.data(), jpeg.size()),
                                 qorl_testing::kSanFranciscoGps);
}

// Seconds per image over `loops` reads of the file by exifread, measured inside Python.
constexpr const char* kExifreadLoop = R"(
import io, sys, time, exifread
data = open(sys.argv[1], "rb").read()
loops = int(sys.argv[2])
start = time.perf_counter()
for _ in range(loops):
    tags = exifread.process_file(io.BytesIO(data), details=False)
    assert "GPS GPSLatitude" in tags
print((time.perf_counter() - start) / loops)
)";

void BM_GpsMetadata(benchmark::State& state) {
  const qorl_core::Bytes image = photo_with_gps();
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        qorl_multimodal::utils::image_metadata_utils::get_image_metadata(image));
  }
  const double ours = qorl_bench::seconds_since(start) / static_cast<double>(state.iterations());

  if (const auto missing = qorl_bench::missing_python_modules({"exifread"})) {
    return qorl_bench::note_peer_skipped(state, *missing);
  }
  const qorl_testing::TempDir dir;
  const auto path = dir.path() / "photo.jpg";
  std::ofstream(path, std::ios::binary)
      .write(image.str().data(), static_cast<std::streamsize>(image.size()));
  std::string failure;
  const auto peer = qorl_bench::run_peer(
      {"/usr/bin/python3", "-c", kExifreadLoop, path.string(), "2000"}, failure);
  if (!peer) return state.SkipWithError(failure.c_str());
  qorl_bench::report_against_peer(state, ours, std::stod(peer->out));
}
BENCHMARK(BM_GpsMetadata)->Unit(benchmark::kMicrosecond);

}  // namespace
