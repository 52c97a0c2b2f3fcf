// metadata: the GPS position in images' EXIF data.
#include <CLI/CLI.hpp>

#include <memory>

#include "cli/commands/commands.hpp"
#include "cli/output.hpp"
#include "qorl_core/blocking_work.hpp"
#include "qorl_multimodal/utils/image_metadata_utils.hpp"
#include "qorl_multimodal/utils/image_utils.hpp"

namespace qorl_cli::commands {
namespace {

namespace utils = qorl_multimodal::utils;

std::string as_text(const qorl_core::Map& position) {
  if (position.empty()) return "no GPS position\n";
  std::string text;
  for (const auto& name : position.keys()) {
    const qorl_core::Value& value = *position.find(name);
    text +=
        name + ": " +
        (value.is_double() ? output::shortest_number(value.as_double()) : qorl_core::repr(value)) +
        "\n";
  }
  return text;
}

boost::asio::awaitable<batch::runner::Conversion> metadata_one(
    batch::runner::ResolvedSource source) {
  const auto image = co_await utils::image_utils::get_image_binary(converter_source(source));
  const qorl_core::Map position = co_await qorl_core::run_blocking(
      [&image] { return utils::image_metadata_utils::get_image_metadata(image.first); });
  co_return batch::runner::Conversion{.record = position};
}

Job metadata_job() {
  return Job{.convert = metadata_one,
             .render =
                 [](const qorl_core::Value& record) {
                   return Outcome{as_text(record.as_map()), record, {}};
                 },
             .request = {.subcommand = "metadata"}};
}

}  // namespace

Command add_metadata(CLI::App& app) {
  auto args = std::make_shared<SourceArguments>();
  auto* command = app.add_subcommand("metadata", "Read the GPS position from images' EXIF data");
  add_source_arguments(
      *command, *args,
      "Images: paths, http(s) URLs, s3:// locations, Google Drive links or base64");
  return {command, [args] { return run_jobs(args->sources, metadata_job(), args->run); }};
}

}  // namespace qorl_cli::commands
