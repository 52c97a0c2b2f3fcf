// qorl-multimodal: turns media into text from the command line.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <iostream>
#include <vector>

#include "cli/commands/commands.hpp"
#include "cli/exit_status.hpp"
#include "cli/output.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/logger_manager.hpp"

namespace {

int usage_error(const std::string& message) {
  std::cerr << "qorl-multimodal: " << qorl_cli::output::one_line(message) << std::endl;
  return qorl_cli::kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  // Errors reach the user as one line each; the library's own log lines only on request.
  if (std::getenv("QORL_LOG_LEVEL") == nullptr) {
    qorl_core::LoggerManager().root()->set_level(qorl_core::LogLevel::CRITICAL);
  }
  CLI::App app{"qorl-multimodal: turn images, audio and video into text for generative-AI applications"};
  app.set_version_flag("--version", std::string(QORL_MULTIMODAL_VERSION));
  app.require_subcommand(0, 1);
  const std::vector<qorl_cli::commands::Command> commands = {
      qorl_cli::commands::add_caption(app),
      qorl_cli::commands::add_mermaid(app),
      qorl_cli::commands::add_transform(app),
      qorl_cli::commands::add_video(app),
      qorl_cli::commands::add_transcribe(app),
      qorl_cli::commands::add_frame(app),
      qorl_cli::commands::add_metadata(app),
  };
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    return usage_error(std::string(e.what()) + " (see --help)");
  }
  for (const auto& command : commands) {
    if (!command.app->parsed()) continue;
    // Conversion failures are reported per source by the runner; what escapes is a setting the
    // command could not use, found before any conversion started.
    try {
      return command.run();
    } catch (const std::exception& e) {
      return usage_error(qorl_core::describe(e));
    }
  }
  std::cout << app.help();
  return qorl_cli::kSuccess;
}
