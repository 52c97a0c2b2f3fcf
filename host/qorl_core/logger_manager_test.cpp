#include "qorl_core/logger_manager.hpp"

#include <gtest/gtest.h>

#include "qorl_core/errors.hpp"
#include "testing/log_capture.hpp"

namespace qorl_core {
namespace {

struct Expensive {
  int* formatted;
};

}  // namespace
}  // namespace qorl_core

template <>
struct fmt::formatter<qorl_core::Expensive> : fmt::formatter<std::string_view> {
  template <typename Context>
  auto format(const qorl_core::Expensive& e, Context& ctx) const {
    ++*e.formatted;
    return fmt::formatter<std::string_view>::format("expensive", ctx);
  }
};

namespace qorl_core {
namespace {

TEST(LoggerTest, PrintfFormatsAndFinishedTexts) {
  qorl_testing::LogCapture capture;
  auto logger = LoggerManager().get_logger("logger_test.format");
  logger->debug("Converting audio source: %s", std::string("a.mp3"));
  logger->debug("%d transcripts", 3);
  logger->warning("100% finished text");
  logger->debug("value %s and %s", Value(Map{{"k", 1}}), Value("text"));
  logger->debug("status %s, %d%% of %s", 404, 99.9, 2.0);
  logger->debug("mismatched %s %s", 1);
  EXPECT_EQ(capture.messages("logger_test.format"),
            (std::vector<std::string>{"Converting audio source: a.mp3", "3 transcripts",
                                      "100% finished text", "value {'k': 1} and text",
                                      "status 404, 99% of 2.0", "mismatched %s %s [1]"}));
}

TEST(LoggerTest, ArgumentsAreFormattedOnlyWhenEnabled) {
  qorl_testing::LogCapture capture;
  auto logger = LoggerManager().get_logger("logger_test.lazy");
  logger->set_level(LogLevel::WARNING);
  int formatted = 0;
  logger->debug("%s", Expensive{&formatted});
  EXPECT_EQ(formatted, 0);
  logger->warning("%s", Expensive{&formatted});
  EXPECT_EQ(formatted, 1);
  logger->set_level(LogLevel::NOTSET);
}

TEST(LoggerTest, HierarchyLevelsHandlersAndPropagation) {
  qorl_testing::LogCapture capture;
  auto parent = LoggerManager().get_logger("logger_test.tree");
  auto child = LoggerManager().get_logger("logger_test.tree.child");
  EXPECT_EQ(LoggerManager().get_logger("logger_test.tree.child"), child);

  auto own = std::make_shared<qorl_testing::CapturingHandler>();
  parent->add_handler(own);
  child->error("to both");
  EXPECT_EQ(own->records().size(), 1u);
  EXPECT_TRUE(capture.contains("to both"));

  child->set_propagate(false);
  child->error("nowhere");
  EXPECT_EQ(own->records().size(), 1u);
  EXPECT_FALSE(capture.contains("nowhere"));
  child->set_propagate(true);

  parent->set_level(LogLevel::ERROR);
  child->warning("filtered by the parent's level");
  EXPECT_FALSE(capture.contains("filtered by the parent's level"));
  parent->set_level(LogLevel::NOTSET);
  parent->remove_handler(own);
}

TEST(LoggerTest, ExceptionAppendsTheActiveErrorWithItsCauses) {
  qorl_testing::LogCapture capture;
  auto logger = LoggerManager().get_logger("logger_test.exception");
  try {
    try {
      throw ValueError("inner");
    } catch (...) {
      std::throw_with_nested(TypeError("outer"));
    }
  } catch (...) {
    logger->exception("Failed for %s", "x");
  }
  EXPECT_EQ(capture.messages("logger_test.exception"),
            (std::vector<std::string>{"Failed for x\nouter: inner"}));
}

TEST(ClassNamedLoggerTest, NamedAfterTheConcreteClass) {
  struct Base {
    virtual ~Base() = default;
    Logger& logger() const { return named.get(typeid(*this)); }
    ClassNamedLogger named;
  };
  struct Concrete : Base {};
  Concrete concrete;
  EXPECT_EQ(concrete.logger().name(), "Concrete");
}

TEST(ModuleLoggerTest, IsTheManagersLoggerOfThatName) {
  Logger& logger = module_logger<"qorl_test.module">();
  EXPECT_EQ(logger.name(), "qorl_test.module");
  EXPECT_EQ(&logger, LoggerManager().get_logger("qorl_test.module").get());
  EXPECT_EQ(&logger, &module_logger<"qorl_test.module">());
}

}  // namespace
}  // namespace qorl_core
