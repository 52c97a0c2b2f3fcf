// metadata: the GPS position in images' EXIF data.
#include <CLI/CLI.hpp>

#include <memory>

#include "cli/commands/commands.hpp"
#include "cli/output.hpp"
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

boost::asio::awaitable<Outcome> metadata_one(std::string source) {
  require_file_if_path(source);
  const auto image = co_await utils::image_utils::get_image_binary(source);
  const qorl_core::Map position = utils::image_metadata_utils::get_image_metadata(image.first);
  co_return Outcome{as_text(position), position, {}};
}

}  // namespace

Command add_metadata(CLI::App& app) {
  auto args = std::make_shared<SourceArguments>();
  auto* command = app.add_subcommand("metadata", "Read the GPS position from images' EXIF data");
  add_source_arguments(
      *command, *args,
      "Images: paths, http(s) URLs, s3:// locations, Google Drive links or base64");
  return {command, [args] {
            return run_jobs(
                args->sources, [] { return Job(metadata_one); }, args->run);
          }};
}

}  // namespace qorl_cli::commands
