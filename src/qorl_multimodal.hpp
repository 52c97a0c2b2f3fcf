// Module that manage multimodality for Gen AI apllication.
#pragma once

namespace qorl_multimodal {}
