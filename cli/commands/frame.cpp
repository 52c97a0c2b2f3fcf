// frame: one frame of a video, at a time offset, written to an image file.
#include <CLI/CLI.hpp>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/commands/commands.hpp"
#include "cli/exit_status.hpp"
#include "qorl_core/blocking_work.hpp"
#include "qorl_core/files.hpp"
#include "qorl_core/text.hpp"
#include "qorl_multimodal/utils/video_utils.hpp"

namespace qorl_cli::commands {
namespace {

namespace fs = std::filesystem;

// The image formats the encoder writes, by the file extensions that name them.
const std::map<std::string, std::string> kFormatOfExtension = {
    {".png", "PNG"},  {".jpg", "JPEG"},  {".jpeg", "JPEG"}, {".bmp", "BMP"},
    {".tif", "TIFF"}, {".tiff", "TIFF"}, {".webp", "WEBP"}, {".ppm", "PPM"}};

struct FrameArguments {
  std::string video;
  double at = 0;
  std::string output;
  std::optional<std::string> format;
  bool overwrite = false;
  bool json = false;
};

// --format, else the one the output's extension names.
std::string image_format(const FrameArguments& args) {
  if (args.format) return qorl_core::ascii_upper(*args.format);
  const std::string extension = qorl_core::ascii_lower(fs::path(args.output).extension().string());
  const auto known = kFormatOfExtension.find(extension);
  if (known == kFormatOfExtension.end()) {
    throw UsageError("cannot tell the image format from " + args.output + "; give --format");
  }
  return known->second;
}

// The input is never written over; another existing file only with --overwrite.
void check_output(const FrameArguments& args) {
  std::error_code error;
  if (!fs::exists(args.output, error)) return;
  if (fs::equivalent(args.output, args.video, error)) {
    throw UsageError("the output " + args.output + " is the input video");
  }
  if (!args.overwrite) throw UsageError(args.output + " already exists (-y overwrites it)");
}

boost::asio::awaitable<batch::runner::Conversion> frame_one(FrameArguments args, std::string format,
                                                            batch::runner::ResolvedSource source) {
  require_file_if_path(source.entry.source);
  const auto image = co_await qorl_core::run_blocking([&] {
    return qorl_multimodal::utils::video_utils::extract_video_frame_at_timestamp(
        source.entry.source, args.at, format);
  });
  qorl_core::write_file_atomically(args.output, image.view());
  qorl_core::Map record;
  record.set("output", args.output);
  record.set("format", format);
  record.set("timestamp", args.at);
  record.set("size", static_cast<std::int64_t>(image.size()));
  co_return batch::runner::Conversion{.record = std::move(record)};
}

int run(const FrameArguments& args) {
  check_output(args);
  const std::string format = image_format(args);
  RunSettings settings;
  settings.report.json = args.json;
  Job job{.convert =
              [args, format](batch::runner::ResolvedSource source) {
                return frame_one(args, format, std::move(source));
              },
          .render =
              [output = args.output](const qorl_core::Value& record) {
                return Outcome{output, record, {}};
              },
          .request = {.subcommand = "frame"}};
  return run_jobs({args.video}, std::move(job), settings);
}

const CLI::Validator SECONDS(
    [](const std::string& text) -> std::string {
      double value = 0;
      const bool number = CLI::detail::lexical_cast(text, value);
      return number && std::isfinite(value) && value >= 0
                 ? ""
                 : "must be a number of seconds, 0 or more";
    },
    "SECONDS");

}  // namespace

Command add_frame(CLI::App& app) {
  auto args = std::make_shared<FrameArguments>();
  auto* command =
      app.add_subcommand("frame", "Write the frame of a video at a time offset to an image file");
  command->add_option("video", args->video, "Local video file")->required()->check(NON_BLANK);
  command->add_option("-t,--at", args->at, "Time offset in seconds (past the end: the last frame)")
      ->required()
      ->check(SECONDS);
  command->add_option("-o,--output", args->output, "Image file to write (never the input video)")
      ->required()
      ->check(NON_BLANK);
  command
      ->add_option(
          "--format", args->format,
          "Image format: PNG, JPEG, BMP, TIFF, WEBP or PPM (default: from the output's extension)")
      ->check(CLI::IsMember({"PNG", "JPEG", "JPG", "BMP", "TIFF", "TIF", "WEBP", "PPM"},
                            CLI::ignore_case));
  command->add_flag("-y,--overwrite", args->overwrite, "Overwrite an existing output file");
  command->add_flag("--json", args->json, "Write the result as a JSON line");
  return {command, [args] { return run(*args); }};
}

}  // namespace qorl_cli::commands
