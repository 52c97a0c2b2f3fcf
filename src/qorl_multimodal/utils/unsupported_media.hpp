// The error of a source whose media the library refuses: nothing it names or holds is media of
// the kind a converter takes. Still a ValueError with the same messages, so callers that catch
// ValueError keep working, while the Python module can tell it from other bad arguments.
#pragma once

#include "qorl_core/errors.hpp"

namespace qorl_multimodal::utils::unsupported_media {

class UnsupportedMediaError : public qorl_core::ValueError {
 public:
  using ValueError::ValueError;
};

}  // namespace qorl_multimodal::utils::unsupported_media
