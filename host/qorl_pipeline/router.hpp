// Routers: the abstract router and the one that asks a language model.
#pragma once

#include "qorl_pipeline/router/lm_based_router.hpp"
#include "qorl_pipeline/router/router.hpp"
