// Records: plain structs with typed fields, built from named values with every failing field
// collected into one ValidationError, and turned back into field-ordered maps.
//
//   struct Point : qorl_core::Record<Point> {
//     double x = 0;
//     std::optional<std::string> label;
//     static const qorl_core::Schema<Point>& schema() {
//       static const qorl_core::Schema<Point> s{"Point", {
//           qorl_core::field("x", &Point::x).required(),
//           qorl_core::field("label", &Point::label)}};
//       return s;
//     }
//   };
//
// Defaults are the members' initialisers (so list and map defaults are fresh per record) and
// are not run through preparation steps. Unknown names are ignored. A preparation step's
// ValueError becomes that field's failure; any other error leaves the construction as it is.
// A record that defines `void after_validation()` has it run once every field is checked.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "qorl_core/errors.hpp"
#include "qorl_core/type_name.hpp"
#include "qorl_core/value.hpp"

namespace qorl_core {

// Base of every record, so a dynamic value can carry one and be turned into a map.
class RecordBase : public Object {
 public:
  virtual Options to_map() const = 0;
};

// A field's value failed its check; the message says why.
class FieldFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Nested failures keep their own field paths ("segments.0.start_time").
class NestedFieldFailure : public std::runtime_error {
 public:
  explicit NestedFieldFailure(std::vector<ValidationError::FieldError> errors)
      : std::runtime_error("nested validation failure"), errors_(std::move(errors)) {}
  const std::vector<ValidationError::FieldError>& errors() const noexcept { return errors_; }

 private:
  std::vector<ValidationError::FieldError> errors_;
};

// ---- field codecs: checking a dynamic value into a typed member and back -----------------

namespace record_detail {

std::optional<double> parse_real(std::string_view text);
std::optional<std::int64_t> parse_integer(std::string_view text);

template <typename T>
struct is_optional : std::false_type {};
template <typename T>
struct is_optional<std::optional<T>> : std::true_type {};

template <typename T>
struct is_vector : std::false_type {};
template <typename T>
struct is_vector<std::vector<T>> : std::true_type {};

template <typename T>
struct is_shared_ptr : std::false_type {};
template <typename T>
struct is_shared_ptr<std::shared_ptr<T>> : std::true_type {};

}  // namespace record_detail

template <typename T, typename = void>
struct FieldCodec;

template <>
struct FieldCodec<std::string> {
  static std::string decode(const Value& v) {
    if (!v.is_string()) throw FieldFailure("Input should be a valid string");
    return v.as_string();
  }
  static Value encode(const std::string& s) { return s; }
};

template <>
struct FieldCodec<double> {
  // Whole numbers and numeric texts are accepted; booleans are not numbers.
  static double decode(const Value& v) {
    if (v.is_number()) return v.as_double();
    if (v.is_string()) {
      if (auto d = record_detail::parse_real(v.as_string())) return *d;
      throw FieldFailure("Input should be a valid number, unable to parse string as a number");
    }
    throw FieldFailure("Input should be a valid number");
  }
  static Value encode(double d) { return d; }
};

template <>
struct FieldCodec<std::int64_t> {
  // Integer texts and integral floating-point values are accepted; fractions and booleans not.
  static std::int64_t decode(const Value& v) {
    if (v.is_int()) return v.as_int();
    if (v.is_double()) {
      const double d = v.as_double();
      if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18) {
        return static_cast<std::int64_t>(d);
      }
      throw FieldFailure("Input should be a valid integer, got a number with a fractional part");
    }
    if (v.is_string()) {
      if (auto i = record_detail::parse_integer(v.as_string())) return *i;
      throw FieldFailure("Input should be a valid integer, unable to parse string as an integer");
    }
    throw FieldFailure("Input should be a valid integer");
  }
  static Value encode(std::int64_t i) { return i; }
};

template <>
struct FieldCodec<bool> {
  static bool decode(const Value& v) {
    if (!v.is_bool()) throw FieldFailure("Input should be a valid boolean");
    return v.as_bool();
  }
  static Value encode(bool b) { return b; }
};

template <>
struct FieldCodec<Map> {
  static Map decode(const Value& v) {
    if (!v.is_map()) throw FieldFailure("Input should be a valid dictionary");
    return v.as_map();
  }
  static Value encode(const Map& m);
};

// Any value; records inside come out as maps.
template <>
struct FieldCodec<Value> {
  static Value decode(const Value& v) { return v; }
  static Value encode(const Value& v);
};

template <typename T>
struct FieldCodec<std::optional<T>> {
  static std::optional<T> decode(const Value& v) {
    if (v.is_none()) return std::nullopt;
    return FieldCodec<T>::decode(v);
  }
  static Value encode(const std::optional<T>& v) { return v ? FieldCodec<T>::encode(*v) : Value(); }
};

// A host object of kind T (an attachment, say).
template <typename T>
struct FieldCodec<std::shared_ptr<T>, std::enable_if_t<std::is_base_of_v<Object, T>>> {
  static std::shared_ptr<T> decode(const Value& v) {
    if (auto object = v.object_as<T>()) return object;
    throw FieldFailure("Input should be an instance of " + simple_type_name<T>());
  }
  // Records come out as their maps, like every nested record; other objects as they are.
  static Value encode(const std::shared_ptr<T>& v) {
    if constexpr (std::is_base_of_v<RecordBase, T>) {
      if (v) return v->to_map();
    }
    return Value(v);
  }
};

template <typename T>
struct FieldCodec<std::vector<T>> {
  static std::vector<T> decode(const Value& v) {
    if (!v.is_list()) throw FieldFailure("Input should be a valid list");
    std::vector<T> out;
    out.reserve(v.as_list().size());
    std::vector<ValidationError::FieldError> failures;
    std::size_t index = 0;
    for (const auto& item : v.as_list()) {
      try {
        out.push_back(FieldCodec<T>::decode(item));
      } catch (const FieldFailure& failure) {
        failures.push_back({std::to_string(index), failure.what()});
      } catch (const NestedFieldFailure& nested) {
        for (const auto& e : nested.errors()) {
          failures.push_back({std::to_string(index) + "." + e.field, e.message});
        }
      }
      ++index;
    }
    if (!failures.empty()) throw NestedFieldFailure(std::move(failures));
    return out;
  }
  static Value encode(const std::vector<T>& items) {
    List out;
    out.reserve(items.size());
    for (const auto& item : items) out.push_back(FieldCodec<T>::encode(item));
    return out;
  }
};

// ---- schema -------------------------------------------------------------------------------

template <typename R>
struct FieldSpec {
  using Prepare = std::function<Value(const Value&)>;
  std::string name;
  bool is_required = false;
  Prepare prepare;  // may be empty
  std::function<void(R&, const Value&)> assign;
  std::function<Value(const R&)> read;
};

// Builder of one field: field("x", &R::x).required().prepared_by(fn).
template <typename R, typename M>
class FieldBuilder {
 public:
  FieldBuilder(std::string name, M R::*member) {
    spec_.name = std::move(name);
    spec_.assign = [member](R& record, const Value& v) {
      record.*member = FieldCodec<M>::decode(v);
    };
    spec_.read = [member](const R& record) { return FieldCodec<M>::encode(record.*member); };
  }
  FieldBuilder& required() {
    spec_.is_required = true;
    return *this;
  }
  // Runs on a value a caller supplied, before its check.
  FieldBuilder& prepared_by(std::function<Value(const Value&)> prepare) {
    spec_.prepare = std::move(prepare);
    return *this;
  }
  operator FieldSpec<R>() const { return spec_; }

 private:
  FieldSpec<R> spec_;
};

template <typename R, typename M>
FieldBuilder<R, M> field(std::string name, M R::*member) {
  return FieldBuilder<R, M>(std::move(name), member);
}

template <typename R>
struct Schema {
  std::string name;
  std::vector<FieldSpec<R>> fields;
};

// CRTP base giving a record its construction and map conversion.
template <typename Derived>
class Record : public RecordBase {
 public:
  // Prepares and checks every field named in `values`; throws one ValidationError listing every
  // failure, in field order.
  static Derived from_options(const Options& values) {
    Derived record;
    std::vector<ValidationError::FieldError> failures;
    for (const auto& spec : Derived::schema().fields) {
      const Value* given = values.find(spec.name);
      if (!given) {
        if (spec.is_required) failures.push_back({spec.name, "Field required"});
        continue;
      }
      try {
        if (spec.prepare) {
          spec.assign(record, spec.prepare(*given));
        } else {
          spec.assign(record, *given);
        }
      } catch (const ValidationError& error) {
        // Before FieldFailure/ValueError: a nested record's own collected failures.
        for (const auto& e : error.errors())
          failures.push_back({spec.name + "." + e.field, e.message});
      } catch (const FieldFailure& failure) {
        failures.push_back({spec.name, failure.what()});
      } catch (const NestedFieldFailure& nested) {
        for (const auto& e : nested.errors())
          failures.push_back({spec.name + "." + e.field, e.message});
      } catch (const ValueError& error) {
        failures.push_back({spec.name, error.what()});
      }
    }
    if (!failures.empty()) throw ValidationError(Derived::schema().name, std::move(failures));
    if constexpr (requires(Derived & d) { d.after_validation(); }) record.after_validation();
    return record;
  }

  static std::shared_ptr<Derived> make_shared(const Options& values) {
    return std::make_shared<Derived>(from_options(values));
  }

  Options to_map() const override {
    Options out;
    const auto& self = static_cast<const Derived&>(*this);
    for (const auto& spec : Derived::schema().fields) out.set(spec.name, spec.read(self));
    return out;
  }

  std::string type_name() const override { return Derived::schema().name; }
};

// A nested record given as a map of its fields, or as the record itself.
template <typename T>
struct FieldCodec<T, std::enable_if_t<std::is_base_of_v<Record<T>, T>>> {
  static T decode(const Value& v) {
    if (auto record = v.object_as<T>()) return *record;
    if (!v.is_map()) {
      throw FieldFailure("Input should be a valid dictionary or instance of " + T::schema().name);
    }
    try {
      return T::from_options(v.as_map());
    } catch (const ValidationError& error) {
      throw NestedFieldFailure(error.errors());
    }
  }
  static Value encode(const T& record) { return record.to_map(); }
};

}  // namespace qorl_core
