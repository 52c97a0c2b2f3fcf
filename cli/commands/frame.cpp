// frame: one frame of a video, at a time offset, written to an image file.
#include <CLI/CLI.hpp>

#include <fstream>
#include <memory>
#include <stdexcept>

#include "cli/commands/commands.hpp"
#include "qorl_multimodal/utils/video_utils.hpp"

namespace qorl_cli::commands {
namespace {

struct FrameArguments {
  std::string video;
  double at = 0;
  std::string output;
  std::string format = "PNG";
  bool json = false;
};

void write_file(const std::string& path, const qorl_core::Bytes& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
  file.close();
  if (!file) throw std::runtime_error("could not write " + path);
}

boost::asio::awaitable<Outcome> frame_one(FrameArguments args, std::string source) {
  require_file_if_path(source);
  const auto image =
      qorl_multimodal::utils::video_utils::extract_video_frame_at_timestamp(source, args.at, args.format);
  write_file(args.output, image);
  qorl_core::Map record;
  record.set("output", args.output);
  record.set("format", args.format);
  record.set("timestamp", args.at);
  record.set("size", static_cast<std::int64_t>(image.size()));
  co_return Outcome{args.output, record};
}

}  // namespace

Command add_frame(CLI::App& app) {
  auto args = std::make_shared<FrameArguments>();
  auto* command = app.add_subcommand("frame", "Write the frame of a video at a time offset to an image file");
  command->add_option("video", args->video, "Local video file")->required()->check(NON_BLANK);
  command->add_option("-t,--at", args->at, "Time offset in seconds (past the end: the last frame)")
      ->required()
      ->check(CLI::NonNegativeNumber);
  command->add_option("-o,--output", args->output, "Image file to write")->required();
  command->add_option("--format", args->format, "Image format: PNG, JPEG, BMP, TIFF, WEBP or PPM")
      ->capture_default_str();
  command->add_flag("--json", args->json, "Write the result as a JSON line");
  return {command, [args] {
            return run_jobs({args->video}, [&]() -> Job {
              return [args = *args](std::string source) { return frame_one(args, std::move(source)); };
            }, RunSettings{args->json, 1});
          }};
}

}  // namespace qorl_cli::commands
