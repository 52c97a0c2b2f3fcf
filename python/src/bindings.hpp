// The areas of the extension module, each bound by its own translation unit.
#pragma once

#include <pybind11/pybind11.h>

namespace qorl_python {

void bind_records(pybind11::module_& module);
void bind_converters(pybind11::module_& module);
void bind_audio(pybind11::module_& module);
void bind_utils(pybind11::module_& module);
void bind_batch(pybind11::module_& module);
void bind_log_forwarding(pybind11::module_& module);
void bind_results_store(pybind11::module_& module);

}  // namespace qorl_python
