#include "clients/youtube/transcripts.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

#include "clients/common/run_sync.hpp"
#include "testing/fake_youtube.hpp"
#include "testing/loopback.hpp"
#include "testing/scoped_env.hpp"

namespace clients::youtube {
namespace {

using common::run_sync;

using qorl_testing::FakeYouTube;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// Entities escaped twice (as YouTube sends them), a formatting tag, an empty element.
constexpr const char* kEnglish =
    R"(<?xml version="1.0" encoding="utf-8" ?><transcript>)"
    R"(<text start="1.5" dur="2.25">It&amp;#39;s &lt;font color=&quot;#E5E5E5&quot;&gt;fine&lt;/font&gt; &amp;amp; good</text>)"
    R"(<text start="4" dur="1">second</text><text start="5" dur="1"></text></transcript>)";

template <typename Kind>
bool is(const CouldNotRetrieveTranscript& e) {
  return dynamic_cast<const Kind*>(&e) != nullptr;
}

std::string closed_port_url() {
  return "http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port());
}

class TranscriptClientTest : public ::testing::Test {
 protected:
  TranscriptClientTest() {
    youtube_.add_video("vid00000001", {FakeYouTube::Playability::kOk,
                                       true,
                                       {{"en", "English (auto-generated)", true, "<transcript/>"},
                                        {"en", "English", false, kEnglish},
                                        {"id", "Indonesian", false, "<transcript/>"}}});
  }
  TranscriptClient client(TranscriptClientOptions options = {}) const {
    if (!options.base_url) options.base_url = youtube_.base_url();
    return TranscriptClient(options);
  }
  FakeYouTube youtube_;
};

TEST_F(TranscriptClientTest, ListsTracksAndFetchesTimedTextAsTheWebClientsDo) {
  const TranscriptList list = run_sync(client().list("vid00000001"));
  std::vector<std::string> seen;
  for (const Transcript& t : list) {
    seen.push_back(t.language_code + (t.is_generated ? " generated " : " manual ") + t.language);
  }
  EXPECT_THAT(seen, ElementsAre("en generated English (auto-generated)", "en manual English",
                                "id manual Indonesian"));

  // The manually created track wins over the generated one of the same language.
  const FetchedTranscript fetched = run_sync(client().fetch("vid00000001", {"de", "en"}));
  EXPECT_EQ(fetched.language, "English");
  EXPECT_FALSE(fetched.is_generated);
  ASSERT_EQ(fetched.snippets.size(), 2u);
  EXPECT_EQ(fetched.snippets[0].text, "It's fine & good");
  EXPECT_DOUBLE_EQ(fetched.snippets[0].start, 1.5);
  EXPECT_DOUBLE_EQ(fetched.snippets[0].duration, 2.25);
  EXPECT_EQ(fetched.snippets[1].text, "second");

  const auto requests = youtube_.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].target, "/watch?v=vid00000001");
  EXPECT_EQ(requests[0].accept_language, "en-US");
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].target, std::string("/youtubei/v1/player?key=") + FakeYouTube::kApiKey);
  const auto body = nlohmann::json::parse(requests[1].body);
  EXPECT_EQ(body["videoId"], "vid00000001");
  EXPECT_EQ(body["context"]["client"]["clientName"], "ANDROID");
  // The timed text in its default format: the srv3 format asked for by the address is dropped.
  EXPECT_THAT(requests[4].target, StartsWith("/api/timedtext?v=vid00000001&"));
  EXPECT_THAT(requests[4].target, HasSubstr("&lang=en"));
  EXPECT_THAT(requests[4].target, Not(HasSubstr("fmt=")));
  EXPECT_THAT(requests[4].target, Not(HasSubstr("kind=asr")));
}

TEST_F(TranscriptClientTest, GivesCookieConsentWhenTheConsentFormComesFirst) {
  youtube_.set_consent(FakeYouTube::Consent::kAsked);
  EXPECT_EQ(run_sync(client().fetch("vid00000001", {"id"})).language_code, "id");
  const auto requests = youtube_.requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_TRUE(requests[0].cookies.empty());
  const std::string consent = std::string("CONSENT=YES+") + FakeYouTube::kConsentValue;
  EXPECT_THAT(requests[1].cookies, Contains(HasSubstr(consent)));
  EXPECT_THAT(requests[2].cookies, Contains(HasSubstr(consent)));  // the player request too

  youtube_.set_consent(FakeYouTube::Consent::kRefused);
  EXPECT_THROW(run_sync(client().list("vid00000001")), FailedToCreateConsentCookie);
}

TEST_F(TranscriptClientTest, EveryFailureIsAReadableKindOfCouldNotRetrieveTranscript) {
  using Playability = FakeYouTube::Playability;
  youtube_.add_video("private0001", {Playability::kPrivate, true, {}});
  youtube_.add_video("botcheck001", {Playability::kBotCheck, true, {}});
  youtube_.add_video("agelimit001", {Playability::kAgeRestricted, true, {}});
  youtube_.add_video("nocaptions1", {Playability::kOk, false, {}});
  youtube_.add_video("potoken0001",
                     {Playability::kOk, true, {{"en", "English", false, kEnglish, true}}});

  struct Case {
    std::string name;
    std::function<void()> call;
    bool (*is_kind)(const CouldNotRetrieveTranscript&);
    std::string cause;
  };
  const auto list = [this](std::string id) { return [this, id] { run_sync(client().list(id)); }; };
  const auto fetch = [this](std::string id, std::vector<std::string> languages) {
    return [this, id, languages] { run_sync(client().fetch(id, languages)); };
  };
  std::vector<Case> cases = {
      {"unavailable", list("missing0001"), &is<VideoUnavailable>, "no longer available"},
      {"private", list("private0001"), &is<VideoUnplayable>,
       "unplayable: This video is private; The uploader has not made it public."},
      {"captions disabled", list("nocaptions1"), &is<TranscriptsDisabled>, "disabled"},
      {"no language", fetch("vid00000001", {"de", "fr"}), &is<NoTranscriptFound>,
       "(de, fr); manually created: en, id; generated: en"},
      // A block, but not the rate limit.
      {"bot check", list("botcheck001"),
       [](const CouldNotRetrieveTranscript& e) {
         return is<RequestBlocked>(e) && !is<IpBlocked>(e);
       },
       "not a bot"},
      {"age restricted", list("agelimit001"), &is<AgeRestricted>, "age-restricted"},
      {"proof of origin", fetch("potoken0001", {"en"}), &is<PoTokenRequired>, "(PO) token"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.call();
      ADD_FAILURE() << "no error";
    } catch (const CouldNotRetrieveTranscript& e) {
      EXPECT_TRUE(c.is_kind(e)) << e.what();
      EXPECT_THAT(e.what(), StartsWith("Could not retrieve a transcript for the video "
                                       "https://www.youtube.com/watch?v=" +
                                       e.video_id() + ": "));
      EXPECT_THAT(e.cause(), HasSubstr(c.cause));
      // Signatures and keys stay out of messages.
      EXPECT_THAT(e.what(), Not(HasSubstr(FakeYouTube::kSignature)));
      EXPECT_THAT(e.what(), Not(HasSubstr(FakeYouTube::kApiKey)));
    }
  }
  // Too many requests: an HTTP 429, or a captcha instead of the page.
  for (const auto block : {FakeYouTube::Block::kTooManyRequests, FakeYouTube::Block::kRecaptcha}) {
    youtube_.set_block(block);
    EXPECT_THROW(run_sync(client().list("vid00000001")), IpBlocked);
  }
  youtube_.set_block(FakeYouTube::Block::kNone);

  // Nothing listening: the transfer fails.
  TranscriptClientOptions nowhere;
  nowhere.base_url = closed_port_url();
  try {
    run_sync(client(nowhere).list("vid00000001"));
    ADD_FAILURE();
  } catch (const YouTubeRequestFailed& e) {
    EXPECT_THAT(e.cause(), StartsWith("The request to YouTube failed: "));
  }
}

TEST_F(TranscriptClientTest, SendsEveryRequestThroughTheProxyAndHonoursTheBaseUrlVariable) {
  // Only the proxy (the fake itself) can reach a host on a closed port.
  const std::string unreachable = closed_port_url();
  TranscriptClientOptions proxied;
  proxied.base_url = unreachable;
  proxied.proxy_config = GenericProxyConfig{std::nullopt, youtube_.base_url()};
  EXPECT_EQ(run_sync(client(proxied).fetch("vid00000001")).snippets.size(), 2u);
  const auto requests = youtube_.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& r : requests) EXPECT_THAT(r.target, StartsWith(unreachable + "/"));

  qorl_testing::ScopedEnv env;
  env.set("QORL_YOUTUBE_BASE_URL", youtube_.base_url() + "/");
  EXPECT_EQ(run_sync(TranscriptClient().list("vid00000001")).tracks().size(), 3u);
}

}  // namespace
}  // namespace clients::youtube
