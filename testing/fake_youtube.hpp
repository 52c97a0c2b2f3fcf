// A fake YouTube web host on loopback for the transcript client: the watch page (or the cookie
// consent form, a captcha, a 429), the innertube player API with its caption track list and
// playability answers, and the timed text of each track. It also answers requests sent to it
// as an HTTP proxy (absolute request targets), so it can stand in for a proxy in front of
// itself.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "testing/http_server.hpp"

namespace qorl_testing {

class FakeYouTube {
 public:
  struct Track {
    std::string language_code;
    std::string name;
    bool generated = false;
    // The <transcript> document served for the track.
    std::string timed_text;
    // The track's address carries exp=xpe, and the answer without a token is empty.
    bool needs_po_token = false;
  };
  enum class Playability { kOk, kPrivate, kBotCheck, kAgeRestricted };
  struct Video {
    Playability playability = Playability::kOk;
    bool captions = true;  // false: the player answer has no caption section
    std::vector<Track> tracks;
    // What every track translates into; its translated timed text is one snippet,
    // "[<code>] <the track's language code>".
    std::vector<std::string> translations = {"af"};
  };
  // kAsked: the consent form until the consent cookie comes; kRefused: always the form.
  enum class Consent { kNone, kAsked, kRefused };
  enum class Block { kNone, kTooManyRequests, kRecaptcha };

  struct Request {
    std::string method;
    std::string target;  // as received: absolute when sent to a proxy
    std::vector<std::string> cookies;
    std::string accept_language;
    std::string body;
  };

  static constexpr const char* kApiKey = "AIzaFakeInnertubeKey-0123456789";
  static constexpr const char* kConsentValue = "cb.20240101-00-p0.en+FX+123";
  // Every track address carries it; the timed text is refused without it.
  static constexpr const char* kSignature = "FAKESIGNATURE0123";

  FakeYouTube();

  // "http://127.0.0.1:<port>".
  std::string base_url() const;

  // Videos not added are unavailable.
  void add_video(const std::string& id, Video video);
  void set_consent(Consent consent);
  void set_block(Block block);

  std::vector<Request> requests() const;

 private:
  void watch(const httplib::Request& request, httplib::Response& response);
  void player(const httplib::Request& request, httplib::Response& response);
  void timed_text(const httplib::Request& request, httplib::Response& response);
  void record(const httplib::Request& request);

  mutable std::mutex mutex_;
  std::map<std::string, Video> videos_;
  Consent consent_ = Consent::kNone;
  Block block_ = Block::kNone;
  std::vector<Request> requests_;
  // Last, so it stops before the state its handlers use is destroyed.
  HttpServer server_;
};

}  // namespace qorl_testing
