// Python objects <-> the library's dynamic values, and the library's errors as Python
// exceptions. Every function here needs the GIL.
#pragma once

#include <pybind11/pybind11.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "qorl_core/value.hpp"

namespace qorl_python {

namespace py = pybind11;

// None, bool, int, float, str, bytes (bytearray, memoryview), list or tuple, dict with text
// keys, and the bound host objects (records, attachments). TypeError for anything else.
qorl_core::Value to_value(py::handle object);
// Keyword arguments as named options, in the caller's order.
qorl_core::Options to_options(const py::kwargs& kwargs);
py::object to_python(const qorl_core::Value& value);

// How a bound class of host objects crosses the boundary: the Python object of a host
// object of that class, or none for another class; the host object of a Python instance of it,
// or none for something else.
struct ObjectBinding {
  std::function<std::optional<py::object>(const std::shared_ptr<qorl_core::Object>&)> to_python;
  std::function<std::optional<qorl_core::Value>(py::handle)> to_value;
};
void register_object_binding(ObjectBinding binding);

// The Python exception an error of the library becomes: its kind (ValueError, TypeError,
// KeyError, AttributeError, ...; ValidationError, a ValueError, with every failing field;
// asyncio.CancelledError for a cancelled operation; RuntimeError for an outside component's
// error), its exact message, and the error nested in it as __cause__.
py::object to_python_exception(std::exception_ptr error);

// Makes the Python exception kinds and the translator of synchronous calls known to `module`.
void bind_errors(py::module_& module);

}  // namespace qorl_python
