// Must not compile: the utils package does not offer the image source resolution.
#include "qorl_multimodal/utils.hpp"

[[maybe_unused]] const auto unexported = &qorl_multimodal::utils::get_image_binary;
