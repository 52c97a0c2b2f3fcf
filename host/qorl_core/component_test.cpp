#include "qorl_core/component.hpp"

#include <gtest/gtest.h>

#include "qorl_core/run_sync.hpp"
#include "testing/log_capture.hpp"

namespace qorl_core {
namespace {

class Echo : public Component<Value> {
 public:
  Options seen;

 protected:
  boost::asio::awaitable<Value> _run(Options inputs) override {
    seen = inputs;
    co_return Value(List{inputs.get("x", Value()), Bytes("raw")});
  }
  std::string _format_output_event(const Value& output) const override {
    return "done " + repr(output);
  }
};

TEST(ComponentTest, RunHandsInputsToRunHookAndReturnsItsResultUnchanged) {
  qorl_testing::LogCapture capture;
  Echo echo;
  const Value out = run_sync(echo.run({{"x", 1}, {"y", "two"}}));
  EXPECT_EQ(echo.seen, (Options{{"x", 1}, {"y", "two"}}));
  EXPECT_EQ(out, Value(List{1, Bytes("raw")}));
  EXPECT_EQ(capture.messages("Echo"),
            (std::vector<std::string>{"[Start 'Echo'] Running with: {'x': 1, 'y': 'two'}",
                                      "done [1, b'raw']"}));
}

TEST(RunSyncTest, PropagatesErrors) {
  auto failing = []() -> boost::asio::awaitable<int> {
    throw std::runtime_error("boom");
    co_return 1;
  };
  EXPECT_THROW(run_sync(failing()), std::runtime_error);
}

}  // namespace
}  // namespace qorl_core
