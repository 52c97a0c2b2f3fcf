// The command's results store for runs whose conversions happen elsewhere (the workers of a Dask
// cluster): what it holds, so that the workers convert only the rest, and each result they send
// back recorded as the runner records its own.
#include <pybind11/pybind11.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>

#include "python/src/bindings.hpp"
#include "python/src/values.hpp"
#include "qorl_core/json.hpp"
#include "qorl_multimodal/batch/manifest.hpp"
#include "qorl_multimodal/batch/store.hpp"
#include "qorl_multimodal/batch/usage.hpp"

namespace qorl_python {
namespace {

namespace batch = qorl_multimodal::batch;
using batch::store::ClaimResult;
using batch::store::Store;

std::optional<std::string> optional_text(const py::dict& record, const char* name) {
  if (!record.contains(name) || record[name].is_none()) return std::nullopt;
  return record[name].cast<std::string>();
}

class ResultsStore {
 public:
  explicit ResultsStore(const std::string& path) : store_(Store::open(path)) {}

  // {key: "done" or "failed"} for every stored outcome.
  py::dict outcomes() const {
    std::ostringstream exported;
    std::vector<batch::store::Row> failures;
    {
      py::gil_scoped_release release;
      store_.export_results(exported);
      failures = store_.failures();
    }
    py::dict out;
    std::istringstream lines(exported.str());
    for (std::string line; std::getline(lines, line);) {
      out[py::str(nlohmann::json::parse(line).at("key").get<std::string>())] = "done";
    }
    for (const auto& row : failures) out[py::str(row.key)] = "failed";
    return out;
  }

  // The stored outcome of `key`: {"status", "result", "error", "error_kind", "attempts"}, or None.
  py::object lookup(const std::string& key) const {
    std::optional<batch::store::Row> row;
    {
      py::gil_scoped_release release;
      row = store_.lookup(key);
    }
    if (!row) return py::none();
    py::dict out;
    out["status"] = row->status == batch::store::Status::done ? "done" : "failed";
    out["result"] = row->result_json ? to_python(qorl_core::from_ordered_json(
                                           nlohmann::ordered_json::parse(*row->result_json)))
                                     : py::none();
    out["error"] = row->error ? py::object(py::str(*row->error)) : py::none();
    out["error_kind"] = row->error_kind ? py::object(py::str(*row->error_kind)) : py::none();
    out["attempts"] = row->attempts;
    return out;
  }

  // Stores a record of qorl_multimodal.batch.run converted elsewhere, as the runner would have:
  // a result or a failure under its key, unless the key already has an outcome that `redo` does
  // not convert again. A source that could not be read (no key), or that a quota stopped, is not
  // stored. True when stored.
  bool record(const py::dict& record, bool retry_failed, bool refresh) {
    const auto key = optional_text(record, "key");
    const auto status = record["status"].cast<std::string>();
    const bool quota = record.contains("quota_exhausted") && record["quota_exhausted"].cast<bool>();
    if (!key || quota || (status != "done" && status != "failed")) return false;
    const std::string source = record["source"].cast<std::string>();
    const auto id = optional_text(record, "id");
    const std::string usage_json =
        py::str(py::module_::import("json").attr("dumps")(record["usage"]));
    std::string result_json;
    if (status == "done") {
      result_json = qorl_core::to_ordered_json(to_value(record["result"]))
                        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    const std::string error = optional_text(record, "error").value_or("");
    const std::string error_kind = optional_text(record, "error_kind").value_or("");
    const auto redo = refresh        ? batch::store::Redo::everything
                      : retry_failed ? batch::store::Redo::failed
                                     : batch::store::Redo::nothing;
    py::gil_scoped_release release;
    const ClaimResult claim = store_.claim(*key, source, id, std::chrono::seconds(300), redo);
    if (claim == ClaimResult::done || claim == ClaimResult::failed) return false;
    // A live claim of another process (busy) does not stop a paid result from being kept.
    const batch::store::Finish finish{.usage = batch::usage::Usage::from_json(usage_json)};
    if (status == "done") {
      store_.complete(*key, result_json, finish);
    } else {
      store_.fail(*key, error, error_kind, finish);
    }
    return true;
  }

 private:
  mutable Store store_;
};

// The entries of a source list as qorl_multimodal.batch.run takes them: the source's text, or a
// dict {"source", "id", option: value} for a JSON line with more.
py::list read_manifest(const std::string& path) {
  std::vector<batch::manifest::SourceEntry> entries;
  {
    py::gil_scoped_release release;
    std::istringstream no_standard_input;
    entries = batch::manifest::read_manifest(path, no_standard_input);
  }
  py::list out;
  for (const auto& entry : entries) {
    if (!entry.id && entry.options.empty()) {
      out.append(py::str(entry.source));
      continue;
    }
    py::dict item;
    item["source"] = entry.source;
    if (entry.id) item["id"] = *entry.id;
    entry.options.for_each([&](const std::string& name, const qorl_core::Value& value) {
      item[py::str(name)] = to_python(value);
    });
    out.append(item);
  }
  return out;
}

}  // namespace

void bind_results_store(py::module_& module) {
  py::class_<ResultsStore>(module, "_ResultsStore")
      .def(py::init<const std::string&>(), py::arg("path"))
      .def("outcomes", &ResultsStore::outcomes)
      .def("lookup", &ResultsStore::lookup, py::arg("key"))
      .def("record", &ResultsStore::record, py::arg("record"), py::kw_only(),
           py::arg("retry_failed") = false, py::arg("refresh") = false);
  module.def("_read_manifest", &read_manifest, py::arg("path"));
}

}  // namespace qorl_python
