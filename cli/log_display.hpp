// The library's log as the command shows it: on standard error, at the level the user asks for.
#pragma once

#include <optional>

#include "qorl_core/logger_manager.hpp"

namespace qorl_cli::log_display {

// Shows the library's log lines at `shown` and above (none when nullopt), their control
// characters escaped on a terminal.
void install(std::optional<qorl_core::LogLevel> shown);

}  // namespace qorl_cli::log_display
