// An asynchronous operation of a bound class as two Python methods: `name` returns a
// coroutine for asyncio, `name_sync` waits for the result with the GIL released.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/src/event_loop.hpp"
#include "python/src/values.hpp"
#include "qorl_core/blocking_work.hpp"

namespace qorl_python {

inline py::object to_python_output(const qorl_core::Value& value) { return to_python(value); }
// Records of a list of results, as their Python objects.
template <typename Record>
py::object to_python_output(std::vector<Record> records) {
  py::list out;
  for (auto& record : records) out.append(py::cast(std::make_shared<Record>(std::move(record))));
  return out;
}

// What a method call prepares (with the GIL, arguments converted): the operation to run on the
// library loop and the conversion of its result.
template <typename Operation, typename ToPython>
struct Prepared {
  Operation operation;
  ToPython to_python;
};
template <typename Operation, typename ToPython>
Prepared(Operation, ToPython) -> Prepared<Operation, ToPython>;

// A host component's run by named inputs.
template <typename Component>
auto prepare_run(std::shared_ptr<Component> self, const py::kwargs& inputs) {
  return Prepared{[self, inputs = to_options(inputs)] { return self->run(inputs); },
                  [](auto output) { return to_python_output(std::move(output)); }};
}

template <typename Class, typename Result, typename... Args, typename... Extra>
void def_operation(Class& cls, const std::string& name, Result (*prepare)(Args...),
                   const Extra&... extra) {
  cls.def(
      name.c_str(),
      [prepare](Args... args) {
        auto prepared = prepare(std::forward<Args>(args)...);
        return start_operation(std::move(prepared.operation), std::move(prepared.to_python));
      },
      extra...);
  cls.def((name + "_sync").c_str(),
          [prepare](Args... args) {
            auto prepared = prepare(std::forward<Args>(args)...);
            return run_operation_sync(std::move(prepared.operation), std::move(prepared.to_python));
          },
          extra...);
}

// `set_blocking_threads(threads)`: CPU-heavy steps of the object run on the library's shared
// pool (by default already, sized to the cores); 0 runs them on the library's loop thread.
template <typename Class>
void def_set_blocking_threads(Class& cls) {
  using Object = typename Class::type;
  cls.def(
      "set_blocking_threads",
      [](Object& self, unsigned threads) {
        // The shared pool is the default executor, set when the module is bound.
        self.set_blocking_executor(threads == 0 ? std::nullopt
                                                : qorl_core::default_blocking_executor());
      },
      py::arg("threads"),
      "Runs CPU-heavy steps on the library's shared pool, sized to the cores (0: on its event "
      "loop).");
}

}  // namespace qorl_python
