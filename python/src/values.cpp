#include "python/src/values.hpp"

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include <string>
#include <vector>

#include "clients/common/service_error.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_multimodal/utils/unsupported_media.hpp"

namespace qorl_python {

namespace {

using qorl_multimodal::utils::unsupported_media::UnsupportedMediaError;

std::vector<ObjectBinding>& object_bindings() {
  static std::vector<ObjectBinding> bindings;
  return bindings;
}

// qorl_core.ValidationError: a ValueError carrying `errors` (one {"field", "message"} dict per
// failing field) and `record_name`.
py::handle validation_error_type() {
  static py::handle type = PyErr_NewExceptionWithDoc(
      "qorl_core.ValidationError",
      "A record's construction failed; `errors` lists every failing field.", PyExc_ValueError,
      nullptr);
  return type;
}

py::module_ errors_module() { return py::module_::import("qorl_multimodal.errors"); }

py::object exception_of_kind(py::handle kind, const char* message) {
  return kind(py::str(message));
}

py::object validation_error(const qorl_core::ValidationError& error) {
  py::object exception = exception_of_kind(validation_error_type(), error.what());
  py::list errors;
  for (const auto& failure : error.errors()) {
    py::dict entry;
    entry["field"] = failure.field;
    entry["message"] = failure.message;
    errors.append(entry);
  }
  exception.attr("errors") = errors;
  exception.attr("record_name") = error.record_name();
  return exception;
}

// The Python exception of a library error, or none for an error that is not the library's.
std::optional<py::object> library_exception(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const qorl_core::ValidationError& e) {
    return validation_error(e);
  } catch (const UnsupportedMediaError& e) {
    return exception_of_kind(errors_module().attr("UnsupportedMediaError"), e.what());
  } catch (const qorl_core::ValueError& e) {
    return exception_of_kind(PyExc_ValueError, e.what());
  } catch (const qorl_core::TypeError& e) {
    return exception_of_kind(PyExc_TypeError, e.what());
  } catch (const qorl_core::KeyError& e) {
    return exception_of_kind(PyExc_KeyError, e.what());
  } catch (const qorl_core::AttributeError& e) {
    return exception_of_kind(PyExc_AttributeError, e.what());
  } catch (const qorl_core::NotImplementedError& e) {
    return exception_of_kind(PyExc_NotImplementedError, e.what());
  } catch (const qorl_core::FileNotFoundError& e) {
    return exception_of_kind(PyExc_FileNotFoundError, e.what());
  } catch (const qorl_core::ImportError& e) {
    return exception_of_kind(PyExc_ImportError, e.what());
  } catch (const qorl_core::IndexError& e) {
    return exception_of_kind(PyExc_IndexError, e.what());
  } catch (const qorl_core::Error& e) {
    return exception_of_kind(PyExc_RuntimeError, e.what());
  } catch (const boost::system::system_error& e) {
    if (e.code() == boost::asio::error::operation_aborted) {
      return py::module_::import("asyncio").attr("CancelledError")();
    }
    return std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

// What a failure of a service says as data, from the error or its nested causes.
struct ServiceReport {
  clients::ServiceFailure failure;
  std::string quota;
};

std::optional<ServiceReport> service_report(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const qorl_inference::QuotaExhausted& e) {
    return ServiceReport{{e.service(), 429, e.quota(), false}, e.quota()};
  } catch (const std::exception& e) {
    if (auto failure = clients::service_failure(e)) return ServiceReport{std::move(*failure), ""};
  } catch (...) {
  }
  return std::nullopt;
}

// `exception` as the errors module's kind for a failure of a service, still of its own builtin
// kind (ValueError, ...) when it has one.
py::object as_service_error(py::object exception, const ServiceReport& report) {
  const py::handle builtin(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())));
  const bool plain = builtin.ptr() == PyExc_RuntimeError;
  return errors_module().attr("_service_error")(
      plain ? py::none() : py::reinterpret_borrow<py::object>(builtin), py::str(exception),
      report.failure.service,
      report.failure.http_status ? py::cast(*report.failure.http_status) : py::none(),
      report.failure.code, report.failure.retryable, report.quota);
}

void attach_cause(py::object& exception, std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::nested_exception& nested) {
    if (nested.nested_ptr()) exception.attr("__cause__") = to_python_exception(nested.nested_ptr());
  } catch (...) {
  }
}

}  // namespace

void register_object_binding(ObjectBinding binding) {
  object_bindings().push_back(std::move(binding));
}

qorl_core::Value to_value(py::handle object) {
  if (object.is_none()) return qorl_core::None{};
  if (py::isinstance<py::bool_>(object)) return object.cast<bool>();
  if (py::isinstance<py::int_>(object)) return object.cast<long long>();
  if (py::isinstance<py::float_>(object)) return object.cast<double>();
  if (py::isinstance<py::str>(object)) return object.cast<std::string>();
  if (py::isinstance<py::bytes>(object) || py::isinstance<py::bytearray>(object) ||
      py::isinstance<py::memoryview>(object)) {
    // bytearray and memoryview are copied into bytes first (py::bytes only accepts bytes).
    auto data = py::reinterpret_steal<py::bytes>(PyBytes_FromObject(object.ptr()));
    if (!data) throw py::error_already_set();
    return qorl_core::Bytes(data.cast<std::string>());
  }
  if (py::isinstance<py::list>(object) || py::isinstance<py::tuple>(object)) {
    qorl_core::List items;
    for (auto item : object) items.push_back(to_value(item));
    return items;
  }
  if (py::isinstance<py::dict>(object)) {
    qorl_core::Map entries;
    for (auto [key, item] : py::reinterpret_borrow<py::dict>(object)) {
      if (!py::isinstance<py::str>(key)) throw py::type_error("dictionary keys must be str");
      entries.set(key.cast<std::string>(), to_value(item));
    }
    return entries;
  }
  for (const auto& binding : object_bindings()) {
    if (auto value = binding.to_value(object)) return std::move(*value);
  }
  throw py::type_error("unsupported value of type " +
                       std::string(py::str(object.get_type().attr("__name__"))));
}

qorl_core::Options to_options(const py::kwargs& kwargs) {
  qorl_core::Options options;
  for (auto [key, item] : kwargs) {
    const auto name = key.cast<std::string>();
    // Tuples read as lists everywhere else; the caption context is the one option whose check
    // refuses them by kind, and a list carries no trace of having been a tuple.
    if (name == "attachments_context" && py::isinstance<py::tuple>(item)) {
      throw py::type_error("Unsupported attachments_context type: <class 'tuple'>");
    }
    options.set(name, to_value(item));
  }
  return options;
}

py::object to_python(const qorl_core::Value& value) {
  struct Visitor {
    py::object operator()(qorl_core::None) const { return py::none(); }
    py::object operator()(bool b) const { return py::bool_(b); }
    py::object operator()(std::int64_t i) const { return py::int_(i); }
    py::object operator()(double d) const { return py::float_(d); }
    py::object operator()(const std::string& s) const { return py::str(s); }
    py::object operator()(const qorl_core::Bytes& b) const { return py::bytes(b.str()); }
    py::object operator()(const qorl_core::List& items) const {
      py::list out;
      for (const auto& item : items) out.append(to_python(item));
      return out;
    }
    py::object operator()(const qorl_core::Map& entries) const {
      py::dict out;
      entries.for_each([&](const std::string& key, const qorl_core::Value& item) {
        out[py::str(key)] = to_python(item);
      });
      return out;
    }
    py::object operator()(const std::shared_ptr<qorl_core::Object>& object) const {
      if (!object) return py::none();
      for (const auto& binding : object_bindings()) {
        if (auto converted = binding.to_python(object)) return std::move(*converted);
      }
      return py::str(object->type_name());
    }
  };
  return std::visit(Visitor{}, value.storage());
}

py::object to_python_exception(std::exception_ptr error) {
  auto exception = library_exception(error);
  if (!exception) {
    try {
      std::rethrow_exception(error);
    } catch (const py::error_already_set& e) {
      return e.value();
    } catch (const std::exception& e) {
      exception = exception_of_kind(PyExc_RuntimeError, e.what());
    } catch (...) {
      exception = exception_of_kind(PyExc_RuntimeError, "unknown error");
    }
  }
  const bool validation = py::isinstance(*exception, validation_error_type());
  if (auto report = service_report(error); report && !validation) {
    exception = as_service_error(std::move(*exception), *report);
  }
  attach_cause(*exception, error);
  return *exception;
}

void bind_errors(py::module_& module) {
  module.attr("ValidationError") = validation_error_type();
  py::register_exception_translator([](std::exception_ptr error) {
    if (!error) return;
    if (!library_exception(error) && !service_report(error)) std::rethrow_exception(error);
    const py::object exception = to_python_exception(error);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
  });
}

}  // namespace qorl_python
