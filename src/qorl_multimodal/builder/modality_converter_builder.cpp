#include "qorl_multimodal/builder/modality_converter_builder.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_core/type_name.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/lm_based_image_to_mermaid.hpp"

namespace qorl_multimodal::builder::modality_converter_builder {

namespace {

using modality_converter::image_to_text::image_to_caption::lm_based_image_to_caption::
    LMBasedImageToCaption;
using modality_converter::image_to_text::image_to_mermaid::lm_based_image_to_mermaid::
    LMBasedImageToMermaid;

// Binds the factory's named options to the parameters of each class's from_preset.
template <typename Converter>
std::unique_ptr<BaseModalityConverter> from_preset_of(const std::optional<std::string>& preset,
                                                      const qorl_core::Options& options) {
  return Converter::from_preset(preset, options);
}

// The option `name` as a map of its own (absent or none: no map); TypeError for another kind.
std::optional<qorl_core::Options> map_option(const qorl_core::Options& options,
                                             std::string_view name) {
  const qorl_core::Value* value = options.find(name);
  if (!value || value->is_none()) return std::nullopt;
  if (!value->is_map()) {
    throw qorl_core::TypeError("LMBasedImageToMermaid.from_preset() option '" + std::string(name) +
                               "' must be a map or None, not " + value->type_name());
  }
  return value->as_map();
}

template <>
std::unique_ptr<BaseModalityConverter> from_preset_of<LMBasedImageToMermaid>(
    const std::optional<std::string>& preset, const qorl_core::Options& options) {
  auto lm_invoker_kwargs = map_option(options, "lm_invoker_kwargs");
  auto prompt_builder_kwargs = map_option(options, "prompt_builder_kwargs");
  qorl_core::Options rest = options;
  rest.erase("lm_invoker_kwargs");
  rest.erase("prompt_builder_kwargs");
  return LMBasedImageToMermaid::from_preset(
      preset, lm_invoker_kwargs ? &*lm_invoker_kwargs : nullptr,
      prompt_builder_kwargs ? &*prompt_builder_kwargs : nullptr, rest);
}

template <typename Converter>
constexpr ConverterClass converter_class() {
  return {&typeid(Converter), &from_preset_of<Converter>};
}

constexpr ApproachMap::Entry kLMBasedCaptioning[] = {
    {ModalityConverterApproach::LM_BASED, converter_class<LMBasedImageToCaption>()}};
constexpr ApproachMap::Entry kLMBasedMermaid[] = {
    {ModalityConverterApproach::LM_BASED, converter_class<LMBasedImageToMermaid>()}};
constexpr ApproachMap::Entry kAutomatic[] = {
    {std::nullopt, converter_class<LMBasedImageToCaption>()}};

constexpr TaskMap::Entry kImageToTextTasks[] = {
    {ModalityConverterTask::CAPTIONING, ApproachMap(kLMBasedCaptioning)},
    {ModalityConverterTask::MERMAID, ApproachMap(kLMBasedMermaid)},
    {ModalityConverterTask::AUTO, ApproachMap(kAutomatic)},
};
constexpr TargetMap::Entry kImageTargets[] = {{Modality::TEXT, TaskMap(kImageToTextTasks)}};
constexpr ModalityConverterRegistry::Entry kSources[] = {
    {Modality::IMAGE, TargetMap(kImageTargets)}};

}  // namespace

std::string ConverterClass::name() const { return qorl_core::simple_type_name(*type); }

// Constant-initialised: usable from any static initialiser, never changed.
constinit const ModalityConverterRegistry MODALITY_CONVERTER_REGISTRY{kSources};

std::unique_ptr<BaseModalityConverter> build_modality_converter(
    std::string_view source_modality, std::string_view target_modality, std::string_view task_type,
    std::optional<std::string_view> approach_type, const std::optional<std::string>& preset,
    const qorl_core::Options& options) {
  const std::string source(source_modality);
  const std::string target(target_modality);
  const std::string task(task_type);

  const TargetMap* target_map = MODALITY_CONVERTER_REGISTRY.find(source_modality);
  if (!target_map) {
    throw qorl_core::ValueError("Unsupported source modality: " + source +
                                ". Supported: " + MODALITY_CONVERTER_REGISTRY.keys_repr());
  }
  const TaskMap* task_map = target_map->find(target_modality);
  if (!task_map) {
    throw qorl_core::ValueError("Cannot convert " + source + " \u2192 " + target +
                                ". Supported targets: " + target_map->keys_repr());
  }
  const ApproachMap* approach_map = task_map->find(task_type);
  if (!approach_map) {
    throw qorl_core::ValueError("Unsupported task '" + task + "' for " + source + " \u2192 " +
                                target + ". Available: " + task_map->keys_repr());
  }

  const ConverterClass* converter_class = nullptr;
  if (ModalityConverterTask::AUTO == task_type) {
    if (approach_type) {
      throw qorl_core::ValueError(
          "Cannot specify 'approach_type' when task_type is AUTO. Use a specific task or omit "
          "approach_type.");
    }
    converter_class = approach_map->find(std::nullopt);
  } else {
    if (!approach_type) {
      throw qorl_core::ValueError("Must specify 'approach_type' for task '" + task +
                                  "'. Available: " + approach_map->keys_repr());
    }
    converter_class = approach_map->find(approach_type);
    if (!converter_class) {
      throw qorl_core::ValueError("Unsupported approach '" + std::string(*approach_type) +
                                  "' for task '" + task +
                                  "'. Available: " + approach_map->keys_repr());
    }
  }
  return converter_class->from_preset(preset, options);
}

}  // namespace qorl_multimodal::builder::modality_converter_builder
