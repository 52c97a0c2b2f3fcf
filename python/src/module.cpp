// qorl_multimodal._native: the library for Python. The package qorl_multimodal lays its names
// out in the library's module tree.
#include "python/src/bindings.hpp"
#include "python/src/event_loop.hpp"
#include "python/src/values.hpp"

PYBIND11_MODULE(_native, module) {
  module.doc() = "Module that manage multimodality for Gen AI application.";
  qorl_python::bind_errors(module);
  qorl_python::bind_log_forwarding(module);
  qorl_python::bind_event_loop(module);
  qorl_python::bind_records(module);
  qorl_python::bind_converters(module);
  qorl_python::bind_audio(module);
  qorl_python::bind_utils(module);
  qorl_python::bind_batch(module);
  qorl_python::bind_results_store(module);
}
