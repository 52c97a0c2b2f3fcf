// The utility functions of qorl_multimodal.utils and the image source resolution helpers.
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "python/src/bindings.hpp"
#include "python/src/operations.hpp"
#include "python/src/values.hpp"
#include "qorl_multimodal/utils.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/image_utils.hpp"

namespace qorl_python {

namespace {

namespace utils = qorl_multimodal::utils;
using qorl_core::Bytes;

Bytes to_bytes(const py::bytes& data) { return Bytes(std::string(data)); }

py::object optional_bytes(std::optional<Bytes> data) {
  if (!data) return py::none();
  return py::bytes(data->str());
}

// Module-level asynchronous functions: `def_operation` wants a class, so they are bound on a
// holder class and exposed as plain functions by the package.
struct AsyncUtilities {};

auto prepare_file_from_url(AsyncUtilities&, std::string file_source, int timeout) {
  return Prepared{[file_source = std::move(file_source), timeout] {
                    return utils::get_file_from_url(file_source, timeout);
                  },
                  &optional_bytes};
}
auto prepare_file_from_s3(AsyncUtilities&, std::string url) {
  return Prepared{[url = std::move(url)] { return utils::get_file_from_s3(url); }, &optional_bytes};
}
auto prepare_file_from_gdrive(AsyncUtilities&, std::string gdrive_source) {
  return Prepared{[gdrive_source = std::move(gdrive_source)] {
                    return utils::get_file_from_gdrive(gdrive_source);
                  },
                  &optional_bytes};
}
auto prepare_audio_from_url(AsyncUtilities&, std::string audio_source, int timeout) {
  return Prepared{[audio_source = std::move(audio_source), timeout] {
                    return utils::get_audio_from_downloadable_url(audio_source, timeout);
                  },
                  &optional_bytes};
}
auto prepare_image_binary(AsyncUtilities&, py::handle image_source) {
  return Prepared{[image_source = to_value(image_source)] {
                    return utils::image_utils::get_image_binary(image_source);
                  },
                  [](utils::image_utils::ImageBinary image) {
                    return py::make_tuple(py::bytes(image.first.str()), py::str(image.second));
                  }};
}

void bind_async_utilities(py::module_& module) {
  py::class_<AsyncUtilities> holder(module, "_AsyncUtilities");
  holder.def(py::init<>());
  def_operation(holder, "get_file_from_url", +prepare_file_from_url, py::arg("file_source"),
                py::arg("timeout") = 30);
  def_operation(holder, "get_file_from_s3", +prepare_file_from_s3, py::arg("url"));
  def_operation(holder, "get_file_from_gdrive", +prepare_file_from_gdrive,
                py::arg("gdrive_source"));
  def_operation(holder, "get_audio_from_downloadable_url", +prepare_audio_from_url,
                py::arg("audio_source"), py::arg("timeout") = 60);
  def_operation(holder, "get_image_binary", +prepare_image_binary, py::arg("image_source"));
}

void bind_sync_utilities(py::module_& module) {
  module.def(
      "is_binary_data_audio",
      [](const py::bytes& data) { return utils::is_binary_data_audio(to_bytes(data)); },
      py::arg("audio_binary_data"));
  module.def(
      "get_audio_from_base64",
      [](const std::string& source) {
        return optional_bytes(utils::get_audio_from_base64(source));
      },
      py::arg("audio_source"));
  module.def(
      "get_audio_from_file_path",
      [](const std::string& source) {
        py::gil_scoped_release release;
        auto audio = utils::get_audio_from_file_path(source);
        py::gil_scoped_acquire gil;
        return optional_bytes(std::move(audio));
      },
      py::arg("audio_source"));
  module.def(
      "get_audio_from_youtube_url",
      [](const std::string& source, const std::optional<std::string>& proxy) {
        std::optional<Bytes> audio;
        {
          py::gil_scoped_release release;
          audio = utils::get_audio_from_youtube_url(source, proxy);
        }
        return optional_bytes(std::move(audio));
      },
      py::arg("audio_source"), py::arg("proxy") = py::none());
  module.def(
      "get_audio_duration",
      [](const py::bytes& data) { return utils::get_audio_duration(to_bytes(data)); },
      py::arg("audio_binary_data"));
  module.def(
      "convert_audio_to_mono_flac",
      [](const py::bytes& data) {
        Bytes input = to_bytes(data);
        Bytes flac;
        {
          py::gil_scoped_release release;
          flac = utils::convert_audio_to_mono_flac(input);
        }
        return py::bytes(flac.str());
      },
      py::arg("input_audio_bytes"));
  module.def("is_youtube_url", &utils::is_youtube_url, py::arg("source"));
  module.def("combine_strings", &utils::combine_strings, py::arg("texts"));
  module.def(
      "get_file_from_file_path",
      [](const std::string& source) {
        return optional_bytes(utils::get_file_from_file_path(source));
      },
      py::arg("source"));
  module.def(
      "get_image_metadata",
      [](const py::bytes& data) { return to_python(utils::get_image_metadata(to_bytes(data))); },
      py::arg("image_binary"));
  module.def("get_unique_non_empty_strings", &utils::get_unique_non_empty_strings,
             py::arg("texts"));
  module.def(
      "extract_video_frame_at_timestamp",
      [](const std::string& video_path, double timestamp, const std::string& output_format) {
        Bytes frame;
        {
          py::gil_scoped_release release;
          frame = utils::extract_video_frame_at_timestamp(video_path, timestamp, output_format);
        }
        return py::bytes(frame.str());
      },
      py::arg("video_path"), py::arg("timestamp"), py::arg("output_format") = "PNG");
  module.def(
      "detect_audio_format",
      [](const py::bytes& data) {
        return utils::audio_to_text_utils::detect_audio_format(to_bytes(data));
      },
      py::arg("audio_binary_data"));
  module.def(
      "is_binary_image",
      [](const py::bytes& data) { return utils::image_utils::is_binary_image(to_bytes(data)); },
      py::arg("image_binary_data"));
}

}  // namespace

void bind_utils(py::module_& module) {
  bind_sync_utilities(module);
  bind_async_utilities(module);
}

}  // namespace qorl_python
