// qorl-multimodal: turns media into text from the command line.
#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char** argv) {
  CLI::App app{"qorl-multimodal: turn images, audio and video into text for generative-AI applications"};
  app.set_version_flag("--version", std::string(QORL_MULTIMODAL_VERSION));
  app.require_subcommand(0, 1);
  CLI11_PARSE(app, argc, argv);
  if (app.get_subcommands().empty()) std::cout << app.help();
  return 0;
}
