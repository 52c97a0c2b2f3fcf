#include "cli/commands/commands.hpp"

namespace qorl_cli::commands {

qorl_core::Value converter_source(const batch::runner::ResolvedSource& source) {
  if (!source.bytes) require_file_if_path(source.entry.source);
  return source.media();
}

Job converter_job(
    std::shared_ptr<qorl_multimodal::modality_converter::modality_converter::BaseModalityConverter>
        converter,
    qorl_core::Options options, std::string what, batch::cache_key::Request request,
    std::map<std::string, std::string> source_options,
    std::function<std::string(const qorl_core::Value& record)> render) {
  if (!render) {
    render = [](const qorl_core::Value& record) {
      return record.as_map().get("result", "").as_string();
    };
  }
  return Job{.convert = batch::converter_run::converter_run(
                 std::move(converter), std::move(options), std::move(what),
                 std::move(source_options), converter_source),
             .render =
                 [render](const qorl_core::Value& record) {
                   return Outcome{render(record), record, {}};
                 },
             .request = std::move(request)};
}

}  // namespace qorl_cli::commands
