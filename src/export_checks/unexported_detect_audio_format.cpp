// Must not compile: the utils package does not offer detect_audio_format.
#include "qorl_multimodal/utils.hpp"

[[maybe_unused]] const auto unexported = &qorl_multimodal::utils::detect_audio_format;
