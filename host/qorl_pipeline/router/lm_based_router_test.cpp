#include "qorl_pipeline/router/lm_based_router.hpp"

#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <nlohmann/json.hpp>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/media.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_pipeline {
namespace {

using nlohmann::json;
using qorl_testing::FakeGeminiServer;

class LMBasedRouterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("GOOGLE_GEMINI_BASE_URL", gemini_.base_url()).set("GEMINI_API_KEY", gemini_.api_key());
  }
  void reply(const std::string& text) {
    gemini_.queue_reply({200, FakeGeminiServer::answer_body(text)});
  }

  const qorl_core::Bytes png_ = qorl_testing::encode_image(".png");
  FakeGeminiServer gemini_;
  qorl_testing::ScopedEnv env_;
};

TEST_F(LMBasedRouterTest, PresetOffersTheImageDomainsAndRefusesUnknownNames) {
  auto router = LMBasedRouter::from_preset("image", "domain_specific");
  EXPECT_EQ(router->valid_routes(),
            (std::set<std::string>{"general_image", "engineering_diagram", "healthcare_x_ray",
                                   "healthcare_mri_ct_scan", "diagram", "organizational_chart"}));
  EXPECT_EQ(router->default_route(), "general_image");
  EXPECT_THROW(LMBasedRouter::from_preset("audio", "domain_specific"), qorl_core::ValueError);
  EXPECT_THROW(LMBasedRouter::from_preset("image", "general"), qorl_core::ValueError);
}

TEST_F(LMBasedRouterTest, TakesTheNamedRouteOrFallsBackToTheDefault) {
  auto router = LMBasedRouter::from_preset("image", "domain_specific");
  qorl_testing::TempDir dir;
  reply("diagram");
  EXPECT_EQ(router->route(png_), "diagram");
  reply(" `Organizational_Chart`.\n");
  EXPECT_EQ(router->route(dir.write("chart.png", png_.str()).string()), "organizational_chart");
  reply("a cat on a sofa");
  EXPECT_EQ(router->route(qorl_core::base64_encode(png_.view())), "general_image");

  const auto requests = gemini_.generate_requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& request : requests) {
    const json body = json::parse(request.body);
    const std::string system = body["systemInstruction"]["parts"][0]["text"];
    EXPECT_NE(system.find("- healthcare_mri_ct_scan: "), std::string::npos);
    EXPECT_EQ(body["contents"][0]["parts"][0]["inlineData"]["data"],
              qorl_core::base64_encode(png_.view()));
  }

  // Nothing to show the model: no request, the default route.
  EXPECT_EQ(router->route(""), "general_image");
  EXPECT_EQ(router->route("s3://bucket/photo.png"), "general_image");
  EXPECT_EQ(gemini_.generate_requests().size(), 3u);
}

// Awaited on the caller's loop, the model call leaves the loop free for its other work; the
// synchronous route() would stall it, and is refused there.
TEST_F(LMBasedRouterTest, RoutesFromInsideARunningEventLoop) {
  auto router = LMBasedRouter::from_preset("image", "domain_specific");
  reply("healthcare_x_ray");
  boost::asio::io_context loop;
  bool timer_fired = false;
  boost::asio::steady_timer timer(loop, std::chrono::milliseconds(1));
  timer.async_wait([&](boost::system::error_code) { timer_fired = true; });
  auto routed = boost::asio::co_spawn(
      loop,
      [&]() -> boost::asio::awaitable<std::string> {
        EXPECT_THROW(router->route(png_), std::logic_error);
        std::string route = co_await router->async_route(png_);
        co_return route;
      },
      boost::asio::use_future);
  loop.run();
  EXPECT_EQ(routed.get(), "healthcare_x_ray");
  EXPECT_TRUE(timer_fired);
}

}  // namespace
}  // namespace qorl_pipeline
