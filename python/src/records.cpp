// The records as Python classes: fields as attributes, keyword construction with every failing
// field in one ValidationError, to_dict(), the debug form as repr; the host's Attachment; the
// enumerations and constant groups.
#include <string>

#include "python/src/bindings.hpp"
#include "python/src/values.hpp"
#include "qorl_core/record.hpp"
#include "qorl_inference/attachment.hpp"
#include "qorl_multimodal/constants.hpp"
#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"
#include "qorl_multimodal/modality_converter/schema/caption.hpp"
#include "qorl_multimodal/modality_converter/schema/mermaid.hpp"
#include "qorl_multimodal/modality_converter/schema/text_result.hpp"
#include "qorl_multimodal/modality_converter/schema/video_caption_result.hpp"

namespace qorl_python {

namespace {

namespace schema = qorl_multimodal::modality_converter::schema;

// Host objects of class T cross the boundary as instances of its bound Python class.
template <typename T>
void register_host_class() {
  register_object_binding(ObjectBinding{
      [](const std::shared_ptr<qorl_core::Object>& object) -> std::optional<py::object> {
        if (auto typed = std::dynamic_pointer_cast<T>(object)) return py::cast(typed);
        return std::nullopt;
      },
      [](py::handle object) -> std::optional<qorl_core::Value> {
        if (!py::isinstance<T>(object)) return std::nullopt;
        return qorl_core::Value(object.cast<std::shared_ptr<T>>());
      }});
}

// Nested records read back as dictionaries, as in to_dict(), except where a record holds a
// value of any kind (TextResult.metadata): that reads back as it was given.
template <typename R>
py::class_<R, std::shared_ptr<R>> bind_record(py::module_& module, const char* name) {
  py::class_<R, std::shared_ptr<R>> record(module, name);
  record.def(py::init([](const py::kwargs& fields) { return R::make_shared(to_options(fields)); }));
  for (const auto& spec : R::schema().fields) {
    // Assignment checks the kind the field holds, as construction does, and nothing more.
    record.def_property(
        spec.name.c_str(), [&spec](const R& self) { return to_python(spec.read(self)); },
        [&spec](R& self, py::handle value) {
          try {
            spec.assign(self, to_value(value));
          } catch (const std::exception& failure) {
            throw py::type_error(spec.name + ": " + failure.what());
          }
        });
  }
  record.def(
      "to_dict", [](const R& self) { return to_python(self.to_map()); },
      "The fields in declared order, nested records as dictionaries.");
  record.def("__repr__", [name](py::handle self) {
    std::string out = std::string(name) + "(";
    bool first = true;
    for (const auto& spec : R::schema().fields) {
      if (!first) out += ", ";
      first = false;
      out += spec.name + "=" + std::string(py::repr(self.attr(spec.name.c_str())));
    }
    return out + ")";
  });
  record.def("__eq__", [](const R& self, py::handle other) {
    if (!py::isinstance<R>(other)) return false;
    return self.to_map() == other.cast<const R&>().to_map();
  });
  record.attr("__hash__") = py::none();
  register_host_class<R>();
  return record;
}

void bind_attachment(py::module_& module) {
  using qorl_inference::Attachment;
  py::class_<Attachment, std::shared_ptr<Attachment>>(module, "Attachment")
      .def_static(
          "from_bytes",
          [](py::bytes data, std::string filename) {
            return Attachment::from_bytes(qorl_core::Bytes(std::string(data)), std::move(filename));
          },
          py::arg("data"), py::arg("filename") = "")
      .def_static(
          "from_path", [](std::string path) { return Attachment::from_path(path); },
          py::arg("path"))
      .def_static("from_url", &Attachment::from_url, py::arg("url"))
      .def_property_readonly("data", [](const Attachment& a) { return py::bytes(a.data.str()); })
      .def_readonly("filename", &Attachment::filename)
      .def_readonly("mime_type", &Attachment::mime_type)
      .def_readonly("extension", &Attachment::extension)
      .def_readonly("url", &Attachment::url)
      .def("to_dict", [](const Attachment& a) { return to_python(a.to_map()); })
      .def("__repr__", [](const Attachment& a) {
        return "Attachment(filename=" + qorl_core::repr(a.filename) +
               ", mime_type=" + qorl_core::repr(a.mime_type) +
               ", size=" + std::to_string(a.data.size()) + ")";
      });
  register_host_class<Attachment>();
}

template <typename Enum>
py::list enum_members() {
  py::list members;
  for (const auto& member : Enum::members())
    members.append(py::make_tuple(member.name(), member.value()));
  return members;
}

void bind_constants(py::module_& module) {
  using namespace qorl_multimodal::constants;
  py::dict enums;
  enums["Modality"] = enum_members<Modality>();
  enums["ModalityConverterApproach"] = enum_members<ModalityConverterApproach>();
  enums["ModalityConverterTask"] = enum_members<ModalityConverterTask>();
  module.attr("ENUMERATIONS") = enums;

  py::dict groups;
  groups["ImageToTextConstants"] =
      py::dict(py::arg("NOT_GIVEN") = ImageToTextConstants::NOT_GIVEN,
               py::arg("FILENAME") = ImageToTextConstants::FILENAME,
               py::arg("NO_IMAGE_FILENAME") = ImageToTextConstants::NO_IMAGE_FILENAME);
  groups["CaptionConstants"] = py::dict(
      py::arg("CAPTION_DEFAULT_JSON_KEY") = CaptionConstants::CAPTION_DEFAULT_JSON_KEY,
      py::arg("DOMAIN_KNOWLEDGE") = CaptionConstants::DOMAIN_KNOWLEDGE,
      py::arg("IMAGE_DESCRIPTION") = CaptionConstants::IMAGE_DESCRIPTION,
      py::arg("IMAGE_METADATA") = CaptionConstants::IMAGE_METADATA,
      py::arg("IMAGE_ONE_LINER") = CaptionConstants::IMAGE_ONE_LINER,
      py::arg("NUMBER_OF_CAPTIONS") = CaptionConstants::NUMBER_OF_CAPTIONS,
      py::arg("ATTACHMENTS_CONTEXT") = CaptionConstants::ATTACHMENTS_CONTEXT,
      py::arg("DEFAULT_NUMBER_OF_CAPTIONS") = CaptionConstants::DEFAULT_NUMBER_OF_CAPTIONS);
  groups["ExifConstants"] = py::dict(
      py::arg("GPS_LATITUDE") = ExifConstants::GPS_LATITUDE,
      py::arg("GPS_LATITUDE_REF") = ExifConstants::GPS_LATITUDE_REF,
      py::arg("GPS_LONGITUDE") = ExifConstants::GPS_LONGITUDE,
      py::arg("GPS_LONGITUDE_REF") = ExifConstants::GPS_LONGITUDE_REF,
      py::arg("GPS_SOUTH") = ExifConstants::GPS_SOUTH,
      py::arg("GPS_WEST") = ExifConstants::GPS_WEST, py::arg("LATITUDE") = ExifConstants::LATITUDE,
      py::arg("LONGITUDE") = ExifConstants::LONGITUDE);
  module.attr("CONSTANT_GROUPS") = groups;
}

}  // namespace

void bind_records(py::module_& module) {
  bind_attachment(module);
  using schema::text_result::TextResult;
  bind_record<TextResult>(module, "TextResult")
      .def_property(
          "metadata", [](const TextResult& self) { return to_python(self.metadata); },
          [](TextResult& self, py::handle value) { self.metadata = to_value(value); });
  bind_record<schema::audio_transcript::AudioTranscript>(module, "AudioTranscript");
  bind_record<schema::mermaid::Mermaid>(module, "Mermaid");
  bind_record<schema::caption::Caption>(module, "Caption");
  bind_record<schema::video_caption_result::Keyframe>(module, "Keyframe");
  bind_record<schema::video_caption_result::Segment>(module, "Segment");
  bind_record<schema::video_caption_result::VideoCaptionMetadata>(module, "VideoCaptionMetadata");
  bind_constants(module);
}

}  // namespace qorl_python
