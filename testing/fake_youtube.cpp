#include "testing/fake_youtube.hpp"

#include <nlohmann/json.hpp>

namespace qorl_testing {

namespace {

using nlohmann::ordered_json;

// Paths, also in the absolute form a proxy receives.
std::string route(const std::string& path) { return "(?:http://[^/]+)?" + path; }

constexpr const char* kWatchPage = R"(<!DOCTYPE html><html lang="en"><head><title>YouTube</title>
<script nonce="n0">ytcfg.set({"CLIENT_CANARY_STATE":"none","DEVICE":"cbr=Chrome","INNERTUBE_API_KEY": "%KEY%","INNERTUBE_API_VERSION":"v1","INNERTUBE_CLIENT_NAME":"WEB"});</script>
</head><body><div id="player"></div></body></html>)";

constexpr const char* kConsentPage = R"(<!DOCTYPE html><html><body>
<form action="https://consent.youtube.com/s" method="POST">
<input type="hidden" name="gl" value="DE"><input type="hidden" name="m" value="0">
<input type="hidden" name="pc" value="yt"><input type="hidden" name="continue" value="https://www.youtube.com/watch?v=x">
<input type="hidden" name="v" value="%VALUE%"><button>Accept all</button></form></body></html>)";

constexpr const char* kRecaptchaPage = R"(<!DOCTYPE html><html><body>
<form id="captcha-form" method="post"><div class="g-recaptcha" data-sitekey="6Lc"></div></form>
</body></html>)";

// An srv3 document: what a track's address gives while it still asks for that format.
constexpr const char* kSrv3 =
    R"(<?xml version="1.0" encoding="utf-8" ?><timedtext format="3"><body><p t="0" d="1000">srv3</p></body></timedtext>)";

std::string replaced(std::string text, const std::string& marker, const std::string& value) {
  return text.replace(text.find(marker), marker.size(), value);
}

// The player answer's translationLanguages, named by their codes.
ordered_json translation_languages(const std::vector<std::string>& codes) {
  ordered_json languages = ordered_json::array();
  for (const std::string& code : codes) {
    languages.push_back({{"languageCode", code}, {"languageName", {{"runs", {{{"text", code}}}}}}});
  }
  return languages;
}

ordered_json unplayable(const char* status, const char* reason, const char* subreason) {
  ordered_json playability = {{"status", status}, {"reason", reason}};
  if (subreason) {
    playability["errorScreen"] = {{"playerErrorMessageRenderer",
                                   {{"reason", {{"simpleText", reason}}},
                                    {"subreason", {{"runs", {{{"text", subreason}}}}}}}}};
  }
  return playability;
}

}  // namespace

FakeYouTube::FakeYouTube() {
  auto& server = server_.server();
  server.Get(route("/watch"), [this](const auto& rq, auto& rs) { watch(rq, rs); });
  server.Post(route("/youtubei/v1/player"), [this](const auto& rq, auto& rs) { player(rq, rs); });
  server.Get(route("/api/timedtext"), [this](const auto& rq, auto& rs) { timed_text(rq, rs); });
  server_.start();
}

std::string FakeYouTube::base_url() const { return server_.url(); }

void FakeYouTube::add_video(const std::string& id, Video video) {
  std::lock_guard lock(mutex_);
  videos_[id] = std::move(video);
}

void FakeYouTube::set_consent(Consent consent) {
  std::lock_guard lock(mutex_);
  consent_ = consent;
}

void FakeYouTube::set_block(Block block) {
  std::lock_guard lock(mutex_);
  block_ = block;
}

std::vector<FakeYouTube::Request> FakeYouTube::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void FakeYouTube::record(const httplib::Request& request) {
  Request r{request.method,
            request.target,
            {},
            request.get_header_value("Accept-Language"),
            request.body};
  const auto cookies = request.headers.equal_range("Cookie");
  for (auto it = cookies.first; it != cookies.second; ++it) r.cookies.push_back(it->second);
  requests_.push_back(std::move(r));
}

void FakeYouTube::watch(const httplib::Request& request, httplib::Response& response) {
  std::lock_guard lock(mutex_);
  record(request);
  if (block_ == Block::kTooManyRequests) {
    response.status = 429;
    response.set_content("<html><body>Too Many Requests</body></html>", "text/html");
    return;
  }
  if (block_ == Block::kRecaptcha) {
    response.set_content(kRecaptchaPage, "text/html");
    return;
  }
  bool consented = false;
  for (const std::string& cookie : requests_.back().cookies) {
    consented =
        consented || cookie.find(std::string("CONSENT=YES+") + kConsentValue) != std::string::npos;
  }
  if (consent_ == Consent::kRefused || (consent_ == Consent::kAsked && !consented)) {
    response.set_content(replaced(kConsentPage, "%VALUE%", kConsentValue), "text/html");
    return;
  }
  response.set_content(replaced(kWatchPage, "%KEY%", kApiKey), "text/html; charset=utf-8");
}

void FakeYouTube::player(const httplib::Request& request, httplib::Response& response) {
  std::lock_guard lock(mutex_);
  record(request);
  const auto fail = [&](int status, const char* message) {
    response.status = status;
    response.set_content(
        ordered_json{
            {"error", {{"code", status}, {"message", message}, {"status", "INVALID_ARGUMENT"}}}}
            .dump(),
        "application/json");
  };
  if (request.get_param_value("key") != kApiKey) {
    return fail(400, "API key not valid. Please pass a valid API key.");
  }
  const auto body = nlohmann::json::parse(request.body, nullptr, false);
  if (request.get_header_value("Content-Type").rfind("application/json", 0) != 0 ||
      !body.is_object() || !body.contains("videoId") || !body["videoId"].is_string() ||
      !body.contains("context")) {
    return fail(400, "Request contains an invalid argument.");
  }
  const std::string id = body["videoId"];
  ordered_json answer = {{"responseContext", {{"visitorData", "Cgt2aXNpdG9y"}}}};
  const auto video = videos_.find(id);
  if (video == videos_.end()) {
    answer["playabilityStatus"] = unplayable("ERROR", "This video is unavailable", nullptr);
  } else if (video->second.playability == Playability::kPrivate) {
    answer["playabilityStatus"] = unplayable("LOGIN_REQUIRED", "This video is private",
                                             "The uploader has not made it public.");
  } else if (video->second.playability == Playability::kBotCheck) {
    answer["playabilityStatus"] =
        unplayable("LOGIN_REQUIRED", "Sign in to confirm you\u2019re not a bot",
                   "This helps protect our community.");
  } else if (video->second.playability == Playability::kAgeRestricted) {
    answer["playabilityStatus"] =
        unplayable("LOGIN_REQUIRED", "This video may be inappropriate for some users.", nullptr);
  } else {
    answer["playabilityStatus"] = {{"status", "OK"}, {"playableInEmbed", true}};
    if (video->second.captions) {
      // Track addresses use the host the request was sent to.
      const std::string host = "http://" + request.get_header_value("Host");
      ordered_json tracks = ordered_json::array();
      for (const Track& track : video->second.tracks) {
        std::string url = host + "/api/timedtext?v=" + id + "&ei=abc&caps=asr&opi=112496729" +
                          "&expire=1999999999&sparams=ip,ipbits,expire,v,ei,caps,opi" +
                          "&signature=" + kSignature + "&key=yt8&lang=" + track.language_code;
        if (track.generated) url += "&kind=asr";
        if (track.needs_po_token) url += "&exp=xpe";
        url += "&fmt=srv3";
        ordered_json entry = {{"baseUrl", url},
                              {"name", {{"runs", {{{"text", track.name}}}}}},
                              {"vssId", (track.generated ? "a." : ".") + track.language_code},
                              {"languageCode", track.language_code}};
        if (track.generated) entry["kind"] = "asr";
        entry["isTranslatable"] = true;
        tracks.push_back(entry);
      }
      answer["captions"] = {
          {"playerCaptionsTracklistRenderer",
           {{"captionTracks", tracks},
            {"audioTracks", {{{"captionTrackIndices", {0}}}}},
            {"translationLanguages", translation_languages(video->second.translations)},
            {"defaultAudioTrackIndex", 0}}}};
    }
    answer["videoDetails"] = {{"videoId", id}, {"title", "A video"}, {"lengthSeconds", "212"}};
  }
  response.set_content(answer.dump(), "application/json; charset=UTF-8");
}

void FakeYouTube::timed_text(const httplib::Request& request, httplib::Response& response) {
  std::lock_guard lock(mutex_);
  record(request);
  if (request.get_param_value("signature") != kSignature) {
    response.status = 403;
    return;
  }
  const auto video = videos_.find(request.get_param_value("v"));
  const bool generated = request.get_param_value("kind") == "asr";
  if (video != videos_.end()) {
    for (const Track& track : video->second.tracks) {
      if (track.language_code != request.get_param_value("lang") || track.generated != generated) {
        continue;
      }
      if (request.has_param("fmt")) {
        response.set_content(kSrv3, "text/xml; charset=UTF-8");
      } else if (request.has_param("tlang")) {
        response.set_content(R"(<transcript><text start="0" dur="1">[)" +
                                 request.get_param_value("tlang") + "] " + track.language_code +
                                 "</text></transcript>",
                             "text/xml; charset=UTF-8");
      } else if (track.needs_po_token && !request.has_param("pot")) {
        response.set_content("", "text/xml; charset=UTF-8");
      } else {
        response.set_content(track.timed_text, "text/xml; charset=UTF-8");
      }
      return;
    }
  }
  response.status = 404;
}

}  // namespace qorl_testing
