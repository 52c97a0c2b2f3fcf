#include "qorl_multimodal/modality_converter/modality_converter.hpp"

#include <gtest/gtest.h>

#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "testing/log_capture.hpp"

namespace qorl_multimodal::modality_converter::modality_converter {
namespace {

static_assert(std::is_abstract_v<BaseModalityConverter>);

class FirstConverter : public BaseModalityConverter {
 public:
  boost::asio::awaitable<TextResult> convert(qorl_core::Value source,
                                             qorl_core::Options = {}) override {
    _logger().debug("converting %s", source);
    co_return TextResult::from_options({{"result", "one"}, {"tag", "t"}});
  }
};

class DeferringConverter : public BaseModalityConverter {
 public:
  boost::asio::awaitable<TextResult> convert(qorl_core::Value source,
                                             qorl_core::Options options = {}) override {
    _logger().debug("deferring");
    co_return co_await BaseModalityConverter::convert(std::move(source), std::move(options));
  }
};

TEST(BaseModalityConverterTest, LoggersAreNamedAfterTheConcreteClass) {
  qorl_testing::LogCapture capture;
  FirstConverter a, b;
  DeferringConverter c;
  qorl_core::run_sync(a.convert("x.png"));
  qorl_core::run_sync(b.convert("y.png"));
  EXPECT_THROW(qorl_core::run_sync(c.convert("z.png")), qorl_core::NotImplementedError);
  EXPECT_EQ(capture.messages("FirstConverter"),
            (std::vector<std::string>{"converting x.png", "converting y.png"}));
  EXPECT_EQ(capture.messages("DeferringConverter"), (std::vector<std::string>{"deferring"}));
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::modality_converter
