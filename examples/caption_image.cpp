// Captions one image with the default preset (a Gemini model; GEMINI_API_KEY must be set).
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include <exception>
#include <iostream>
#include <string>

#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption.hpp"

using qorl_multimodal::modality_converter::image_to_text::image_to_caption::LMBasedImageToCaption;

boost::asio::awaitable<void> caption(std::string image) {
  auto captioner = LMBasedImageToCaption::from_preset();
  const qorl_core::Options options{{"number_of_captions", 3}};
  auto result = co_await captioner->convert(image, options);
  std::cout << result.result << '\n';
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: caption_image <image path or URL>\n";
    return 2;
  }
  boost::asio::io_context loop;
  boost::asio::co_spawn(loop, caption(argv[1]), [](std::exception_ptr error) {
    if (error) std::rethrow_exception(error);
  });
  loop.run();
}
