// The image and video converters, their frames, the factory and the transformers.
#include <memory>
#include <optional>
#include <string>

#include <pybind11/stl.h>

#include "python/src/bindings.hpp"
#include "python/src/operations.hpp"
#include "python/src/values.hpp"
#include "qorl_multimodal/builder/modality_converter_builder.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/lm_based_image_to_mermaid.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/lm_based_video_to_caption.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer/generic_image_modality_transformer.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/standard_image_modality_transformer.hpp"

namespace qorl_python {

namespace {

namespace mc = qorl_multimodal::modality_converter;
namespace mt = qorl_multimodal::modality_transformer;
using mc::modality_converter::BaseModalityConverter;
using mc::modality_converter::TextResult;
using mc::image_to_text::image_to_text::BaseImageToText;
using mc::image_to_text::image_to_caption::image_to_caption::BaseImageToCaption;
using mc::image_to_text::image_to_caption::lm_based_image_to_caption::LMBasedImageToCaption;
using mc::image_to_text::image_to_mermaid::image_to_mermaid::BaseImageToMermaid;
using mc::image_to_text::image_to_mermaid::lm_based_image_to_mermaid::LMBasedImageToMermaid;
using mc::video_to_text::video_to_text::BaseVideoToText;
using mc::video_to_text::video_to_caption::video_to_caption::BaseVideoToCaption;
using mc::video_to_text::video_to_caption::lm_based_video_to_caption::LMBasedVideoToCaption;
using mt::modality_transformer::BaseModalityTransformer;
using mt::image_modality_transformer::image_modality_transformer::ImageModalityTransformer;
using mt::image_modality_transformer::generic_image_modality_transformer::
    GenericImageModalityTransformer;
using mt::image_modality_transformer::standard_image_modality_transformer::
    standard_image_modality_transformer::StandardImageModalityTransformer;

py::object text_result_to_python(TextResult result) {
  return py::cast(std::make_shared<TextResult>(std::move(result)));
}

auto prepare_convert(std::shared_ptr<BaseModalityConverter> self, py::handle source,
                     const py::kwargs& options) {
  return Prepared{[self, source = to_value(source), options = to_options(options)] {
                    return self->convert(source, options);
                  },
                  &text_result_to_python};
}

auto prepare_transform(std::shared_ptr<BaseModalityTransformer> self, py::handle source,
                       py::handle query, const py::kwargs& options) {
  return Prepared{
      [self, source = to_value(source), query = to_value(query), options = to_options(options)] {
        return self->transform(source, query, options);
      },
      &to_python};
}

std::optional<qorl_core::Options> optional_options(const std::optional<py::dict>& kwargs) {
  if (!kwargs) return std::nullopt;
  return to_value(*kwargs).as_map();
}

void bind_converter_frames(py::module_& module) {
  py::class_<BaseModalityConverter, std::shared_ptr<BaseModalityConverter>> base(
      module, "BaseModalityConverter");
  def_operation(base, "convert", +prepare_convert, py::arg("source"));
  def_set_blocking_threads(base);
  py::class_<BaseImageToText, BaseModalityConverter, std::shared_ptr<BaseImageToText>>(
      module, "BaseImageToText");
  py::class_<BaseImageToCaption, BaseImageToText, std::shared_ptr<BaseImageToCaption>>(
      module, "BaseImageToCaption");
  py::class_<BaseImageToMermaid, BaseImageToText, std::shared_ptr<BaseImageToMermaid>>(
      module, "BaseImageToMermaid");
  py::class_<BaseVideoToText, BaseModalityConverter, std::shared_ptr<BaseVideoToText>>(
      module, "BaseVideoToText");
  py::class_<BaseVideoToCaption, BaseVideoToText, std::shared_ptr<BaseVideoToCaption>>(
      module, "BaseVideoToCaption");
}

void bind_lm_converters(py::module_& module) {
  py::class_<LMBasedImageToCaption, BaseImageToCaption, std::shared_ptr<LMBasedImageToCaption>>(
      module, "LMBasedImageToCaption")
      .def_static(
          "from_preset",
          [](std::optional<std::string> preset_name, const py::kwargs& options) {
            return std::shared_ptr<LMBasedImageToCaption>(
                LMBasedImageToCaption::from_preset(preset_name, to_options(options)));
          },
          py::arg("preset_name") = "default");
  py::class_<LMBasedImageToMermaid, BaseImageToMermaid, std::shared_ptr<LMBasedImageToMermaid>>(
      module, "LMBasedImageToMermaid")
      .def_static(
          "from_preset",
          [](std::optional<std::string> preset_name, std::optional<py::dict> lm_invoker_kwargs,
             std::optional<py::dict> prompt_builder_kwargs, const py::kwargs& options) {
            auto invoker = optional_options(lm_invoker_kwargs);
            auto builder = optional_options(prompt_builder_kwargs);
            return std::shared_ptr<LMBasedImageToMermaid>(LMBasedImageToMermaid::from_preset(
                preset_name, invoker ? &*invoker : nullptr, builder ? &*builder : nullptr,
                to_options(options)));
          },
          py::arg("preset_name") = "default", py::arg("lm_invoker_kwargs") = py::none(),
          py::arg("prompt_builder_kwargs") = py::none());
  py::class_<LMBasedVideoToCaption, BaseVideoToCaption, std::shared_ptr<LMBasedVideoToCaption>>(
      module, "LMBasedVideoToCaption")
      .def_static(
          "from_preset",
          [](std::optional<std::string> preset_name, const py::kwargs& options) {
            return std::shared_ptr<LMBasedVideoToCaption>(
                LMBasedVideoToCaption::from_preset(preset_name, to_options(options)));
          },
          py::arg("preset_name") = "default");
}

void bind_factory(py::module_& module) {
  module.def(
      "build_modality_converter",
      [](std::string source_modality, std::string target_modality, std::string task_type,
         std::optional<std::string> approach_type, std::optional<std::string> preset,
         const py::kwargs& options) {
        return std::shared_ptr<BaseModalityConverter>(
            qorl_multimodal::builder::modality_converter_builder::build_modality_converter(
                source_modality, target_modality, task_type, approach_type, preset,
                to_options(options)));
      },
      py::arg("source_modality"), py::arg("target_modality"), py::arg("task_type") = "auto",
      py::arg("approach_type") = py::none(), py::arg("preset") = py::none());
}

void bind_transformers(py::module_& module) {
  py::class_<BaseModalityTransformer, std::shared_ptr<BaseModalityTransformer>> base(
      module, "BaseModalityTransformer");
  def_operation(base, "transform", +prepare_transform, py::arg("source"),
                py::arg("query") = py::none());
  def_operation(base, "run", +prepare_run<BaseModalityTransformer>);
  py::class_<ImageModalityTransformer, BaseModalityTransformer,
             std::shared_ptr<ImageModalityTransformer>>(module, "ImageModalityTransformer");
  py::class_<GenericImageModalityTransformer, ImageModalityTransformer,
             std::shared_ptr<GenericImageModalityTransformer>>(module,
                                                               "GenericImageModalityTransformer")
      .def(py::init<std::shared_ptr<BaseModalityConverter>>(), py::arg("converter"))
      .def_readonly("converter", &GenericImageModalityTransformer::converter);
  py::class_<StandardImageModalityTransformer, ImageModalityTransformer,
             std::shared_ptr<StandardImageModalityTransformer>>(module,
                                                                "StandardImageModalityTransformer")
      .def_static(
          "from_preset",
          [](const std::string& preset_name) {
            return std::shared_ptr<StandardImageModalityTransformer>(
                StandardImageModalityTransformer::from_preset(preset_name));
          },
          py::arg("preset_name") = "default")
      .def_property_readonly("route_mapping", [](const StandardImageModalityTransformer& self) {
        py::dict routes;
        for (const auto& [route, converter] : self.route_mapping)
          routes[py::str(route)] = converter;
        return routes;
      });
}

}  // namespace

void bind_converters(py::module_& module) {
  bind_converter_frames(module);
  bind_lm_converters(module);
  bind_factory(module);
  bind_transformers(module);
}

}  // namespace qorl_python
