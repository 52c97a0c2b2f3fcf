#include <stdexcept>

#include "cli/commands/commands.hpp"

namespace qorl_cli::commands {
namespace {

using qorl_multimodal::modality_converter::modality_converter::BaseModalityConverter;

boost::asio::awaitable<Outcome> convert(std::shared_ptr<BaseModalityConverter> converter,
                                        qorl_core::Options options, std::string what,
                                        std::string source) {
  require_file_if_path(source);
  auto result = co_await converter->convert(source, options);
  if (result.result.empty()) throw nothing_generated(what);
  co_return Outcome{result.result, result.to_map(), {}};
}

}  // namespace

std::runtime_error nothing_generated(const std::string& what) {
  return std::runtime_error("no " + what + " was generated");
}

Job converter_job(std::shared_ptr<BaseModalityConverter> converter, qorl_core::Options options,
                  std::string what) {
  return [converter, options, what](std::string source) {
    return convert(converter, options, what, std::move(source));
  };
}

}  // namespace qorl_cli::commands
