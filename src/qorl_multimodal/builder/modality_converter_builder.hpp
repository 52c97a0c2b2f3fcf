// Defines a convenience function to build a modality converter: the wanted source modality,
// target modality, task and approach are looked up in a fixed registry and the registered class
// is built through its from_preset.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <typeinfo>
#include <utility>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/constants.hpp"
#include "qorl_multimodal/modality_converter/modality_converter.hpp"

namespace qorl_multimodal::builder::modality_converter_builder {

using constants::Modality;
using constants::ModalityConverterApproach;
using constants::ModalityConverterTask;
using modality_converter::modality_converter::BaseModalityConverter;

// (source modality, target modality, task, approach or none).
using ConverterKey =
    std::tuple<Modality, Modality, ModalityConverterTask, std::optional<ModalityConverterApproach>>;

// A converter class derived from BaseModalityConverter: its type, and its class-level
// from_preset taking the preset name (none for the class's default) and named options.
struct ConverterClass {
  const std::type_info* type;
  std::unique_ptr<BaseModalityConverter> (*from_preset)(const std::optional<std::string>& preset,
                                                        const qorl_core::Options& options);

  std::string name() const;
};

// One read-only level of the registry: entries in a fixed order, keyed by enumeration members
// (or none); a text equal to a member's value finds that member's entry.
template <typename Key, typename Mapped>
class RegistryLevel {
 public:
  using Entry = std::pair<Key, Mapped>;

  constexpr explicit RegistryLevel(std::span<const Entry> entries) : entries_(entries) {}

  // The entry under `key` (none finds the entry keyed by none), or nullptr.
  const Mapped* find(std::optional<std::string_view> key) const {
    for (const auto& [entry_key, mapped] : entries_) {
      if (matches(entry_key, key)) return &mapped;
    }
    return nullptr;
  }
  bool contains(std::optional<std::string_view> key) const { return find(key) != nullptr; }

  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

  // The keys in order and in debug form: "[<Modality.IMAGE: 'image'>]".
  std::string keys_repr() const {
    std::string out = "[";
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (i) out += ", ";
      out += key_repr(entries_[i].first);
    }
    return out + "]";
  }

 private:
  template <typename E>
  static bool matches(const E& entry_key, std::optional<std::string_view> key) {
    return key && entry_key == *key;
  }
  template <typename E>
  static bool matches(const std::optional<E>& entry_key, std::optional<std::string_view> key) {
    if (!entry_key || !key) return !entry_key && !key;
    return *entry_key == *key;
  }
  template <typename E>
  static std::string key_repr(const E& key) {
    return key.repr();
  }
  template <typename E>
  static std::string key_repr(const std::optional<E>& key) {
    return key ? key->repr() : "None";
  }

  std::span<const Entry> entries_;
};

using ApproachMap = RegistryLevel<std::optional<ModalityConverterApproach>, ConverterClass>;
using TaskMap = RegistryLevel<ModalityConverterTask, ApproachMap>;
using TargetMap = RegistryLevel<Modality, TaskMap>;
using ModalityConverterRegistry = RegistryLevel<Modality, TargetMap>;

// source -> target -> task -> approach (none for the automatic task) -> converter class:
// image -> text: captioning/lm_based and auto/none build LMBasedImageToCaption,
// mermaid/lm_based builds LMBasedImageToMermaid.
extern const ModalityConverterRegistry MODALITY_CONVERTER_REGISTRY;

// Build and initialize a modality converter instance for a given configuration. The modalities,
// task and approach are enumeration members or texts equal to their values; `approach_type` is
// required for every task but AUTO and must be none for AUTO. `preset` (none: the class's
// default) and `options` go unchanged to the class's from_preset. ValueError naming the
// supported keys when the combination is not registered; errors of from_preset propagate.
std::unique_ptr<BaseModalityConverter> build_modality_converter(
    std::string_view source_modality, std::string_view target_modality,
    std::string_view task_type = ModalityConverterTask::AUTO,
    std::optional<std::string_view> approach_type = std::nullopt,
    const std::optional<std::string>& preset = std::nullopt,
    const qorl_core::Options& options = {});

}  // namespace qorl_multimodal::builder::modality_converter_builder
