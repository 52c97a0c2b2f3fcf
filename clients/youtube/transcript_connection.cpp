// The default connection: the watch page for the innertube API key (giving cookie consent when
// YouTube asks for it first), the player answer for the caption tracks, then the timed text.
#include <boost/asio/this_coro.hpp>
#include <boost/url.hpp>
#include <nlohmann/json.hpp>

#include <cctype>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/common/text.hpp"
#include "clients/youtube/timed_text.hpp"
#include "clients/youtube/transcript_rest_stub.hpp"
#include "clients/youtube/transcripts.hpp"

namespace clients::youtube {

namespace {

using clients::common::field_or;
using clients::common::optional_field;
using nlohmann::json;

constexpr std::string_view kConsentForm = R"(action="https://consent.youtube.com/s")";
constexpr std::string_view kConsentValue = R"(name="v" value=")";
constexpr std::string_view kApiKeyName = R"("INNERTUBE_API_KEY")";
constexpr std::string_view kRecaptcha = R"(class="g-recaptcha")";
// Playability reasons, in English (the requests ask for it).
constexpr std::string_view kSignInToConfirm = "Sign in to confirm you";
constexpr std::string_view kNotABot = "not a bot";
constexpr std::string_view kConfirmAge = "Sign in to confirm your age";
constexpr std::string_view kInappropriate = "This video may be inappropriate for some users";

// An answer that is not a success as the error it stands for.
void check_status(const http::Response& response, const std::string& video_id) {
  if (response.status == 429) throw IpBlocked(video_id, response.status);
  if (!response.ok()) {
    throw YouTubeRequestFailed(video_id,
                               "HTTP " + std::to_string(response.status) +
                                   (response.reason.empty() ? "" : " " + response.reason),
                               http_failure("YouTube", response.status));
  }
}

// One exchange; a transfer that does not complete, or an error status, as a transcript error.
boost::asio::awaitable<http::Response> exchange(std::string video_id,
                                                boost::asio::awaitable<http::Response> sending) {
  http::Response response;
  std::optional<YouTubeRequestFailed> failed;
  try {
    response = co_await std::move(sending);
  } catch (const http::Error& e) {
    ServiceFailure failure = e.failure();
    failure.service = "YouTube";
    failed.emplace(video_id, e.what(), std::move(failure));
  }
  if (failed) throw *failed;
  check_status(response, video_id);
  co_return response;
}

// The value of "INNERTUBE_API_KEY": "..." in the page's configuration script.
std::optional<std::string> api_key(std::string_view html) {
  const auto blank = [&](std::size_t i) {
    while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
    return i;
  };
  const std::size_t name = html.find(kApiKeyName);
  if (name == std::string_view::npos) return std::nullopt;
  std::size_t i = blank(name + kApiKeyName.size());
  if (i >= html.size() || html[i] != ':') return std::nullopt;
  i = blank(i + 1);
  if (i >= html.size() || html[i] != '"') return std::nullopt;
  const std::size_t first = ++i;
  while (i < html.size() &&
         (std::isalnum(static_cast<unsigned char>(html[i])) || html[i] == '_' || html[i] == '-')) {
    ++i;
  }
  if (i == first || i >= html.size() || html[i] != '"') return std::nullopt;
  return std::string(html.substr(first, i - first));
}

// The watch page, after giving consent to cookies when the consent form came instead; the
// consent cookie is left in `cookie` for the requests that follow. `stub` and `cookie` are the
// caller's, which awaits this at once.
boost::asio::awaitable<std::string> watch_page(internal::TranscriptRestStub& stub,
                                               std::string video_id, std::string& cookie) {
  http::Response page = co_await exchange(video_id, stub.get_watch_page(video_id, cookie));
  std::string html = std::move(page.body);
  if (html.find(kConsentForm) == std::string::npos) co_return html;
  const std::size_t value = html.find(kConsentValue);
  const std::size_t end =
      value == std::string::npos ? value : html.find('"', value + kConsentValue.size());
  if (end == std::string::npos) throw FailedToCreateConsentCookie(video_id);
  const std::size_t first = value + kConsentValue.size();
  cookie = "CONSENT=YES+" + html.substr(first, end - first);
  page = co_await exchange(video_id, stub.get_watch_page(video_id, cookie));
  html = std::move(page.body);
  if (html.find(kConsentForm) != std::string::npos) throw FailedToCreateConsentCookie(video_id);
  co_return html;
}

// A formatted text: {"simpleText": "..."} or {"runs": [{"text": "..."}, ...]}.
struct FormattedText {
  std::optional<std::string> simple_text;
  std::vector<std::string> runs;

  std::string str() const {
    if (simple_text) return *simple_text;
    std::string text;
    for (const std::string& run : runs) text += run;
    return text;
  }
};

struct TextRun {
  std::string text;
};

void from_json(const json& value, TextRun& run) { run.text = field_or<std::string>(value, "text"); }

void from_json(const json& value, FormattedText& text) {
  text.simple_text = optional_field<std::string>(value, "simpleText");
  for (TextRun& run : field_or<std::vector<TextRun>>(value, "runs")) {
    text.runs.push_back(std::move(run.text));
  }
}

struct PlayabilityStatus {
  std::string status;
  std::string reason;
  FormattedText subreason;
};

void from_json(const json& value, PlayabilityStatus& playability) {
  playability = {
      field_or<std::string>(value, "status"), field_or<std::string>(value, "reason"),
      field_or<FormattedText>(value, {"errorScreen", "playerErrorMessageRenderer", "subreason"})};
}

struct CaptionTrack {
  FormattedText name;
  std::string language_code;
  std::string kind;
  std::string base_url;
  bool is_translatable = false;
};

void from_json(const json& value, CaptionTrack& track) {
  track = {field_or<FormattedText>(value, "name"), field_or<std::string>(value, "languageCode"),
           field_or<std::string>(value, "kind"), field_or<std::string>(value, "baseUrl"),
           field_or<bool>(value, "isTranslatable")};
}

struct TranslationLanguage {
  std::string language_code;
};

void from_json(const json& value, TranslationLanguage& language) {
  language = {field_or<std::string>(value, "languageCode")};
}

// Anything but a playable video as the error it stands for.
void check_playability(const std::string& video_id, const PlayabilityStatus& playability) {
  const std::string& status = playability.status;
  if (status == "OK") return;
  const std::string& reason = playability.reason;
  if (status == "LOGIN_REQUIRED") {
    if (reason.starts_with(kSignInToConfirm) && reason.find(kNotABot) != std::string::npos) {
      throw RequestBlocked(video_id);
    }
    if (reason.starts_with(kConfirmAge) || reason.starts_with(kInappropriate)) {
      throw AgeRestricted(video_id);
    }
  }
  if (status == "ERROR") throw VideoUnavailable(video_id);
  std::vector<std::string> subreasons;
  for (const std::string& text : playability.subreason.runs) {
    if (!text.empty()) subreasons.push_back(text);
  }
  throw VideoUnplayable(video_id, reason, subreasons);
}

TranscriptList caption_tracks(const std::string& video_id, const std::string& body) {
  const json player = common::parse_json_or_discarded(body, "YouTube");
  if (!player.is_object()) {
    throw YouTubeDataUnparsable(video_id, "the player answer is not a JSON object");
  }
  check_playability(video_id, field_or<PlayabilityStatus>(player, "playabilityStatus"));
  const auto tracks = field_or<std::vector<CaptionTrack>>(
      player, {"captions", "playerCaptionsTracklistRenderer", "captionTracks"});
  if (tracks.empty()) throw TranscriptsDisabled(video_id);
  std::vector<Transcript> out;
  for (const CaptionTrack& track : tracks) {
    Transcript t{video_id,       track.name.str(),     track.language_code, track.kind == "asr",
                 track.base_url, track.is_translatable};
    if (t.language_code.empty() || t.url.empty()) {
      throw YouTubeDataUnparsable(video_id, "a caption track has no language code or address");
    }
    out.push_back(std::move(t));
  }
  std::vector<std::string> translation_languages;
  for (const auto& language : field_or<std::vector<TranslationLanguage>>(
           player, {"captions", "playerCaptionsTracklistRenderer", "translationLanguages"})) {
    if (!language.language_code.empty()) translation_languages.push_back(language.language_code);
  }
  return TranscriptList(video_id, std::move(out), std::move(translation_languages));
}

class RestTranscriptConnection : public TranscriptConnection {
 public:
  explicit RestTranscriptConnection(TranscriptClientOptions options)
      : options_(std::move(options)) {}

  boost::asio::awaitable<TranscriptList> list_transcripts(std::string video_id) override {
    const auto executor = co_await boost::asio::this_coro::executor;
    http::Session session(executor);
    internal::TranscriptRestStub stub(options_, session);
    std::string cookie;
    const std::string html = co_await watch_page(stub, video_id, cookie);
    const std::optional<std::string> key = api_key(html);
    if (!key) {
      // A captcha comes instead of the page when this address sent too many requests.
      if (html.find(kRecaptcha) != std::string::npos) throw IpBlocked(video_id);
      throw YouTubeDataUnparsable(video_id, "the watch page holds no innertube API key");
    }
    const http::Response player =
        co_await exchange(video_id, stub.post_player(*key, video_id, cookie));
    co_return caption_tracks(video_id, player.body);
  }

  boost::asio::awaitable<FetchedTranscript> fetch_transcript(Transcript track) override {
    const auto parsed = boost::urls::parse_uri(track.url);
    if (!parsed) {
      throw YouTubeDataUnparsable(track.video_id, "the caption track's address is not a URL");
    }
    boost::urls::url url = *parsed;
    // Without a format the answer is the <transcript><text> document.
    url.params().erase("fmt");
    bool needs_po_token = false;
    for (const auto param : url.params()) {
      needs_po_token = needs_po_token || (param.key == "exp" && param.value == "xpe");
    }
    const auto executor = co_await boost::asio::this_coro::executor;
    http::Session session(executor);
    internal::TranscriptRestStub stub(options_, session);
    const http::Response response =
        co_await exchange(track.video_id, stub.get_timed_text(std::string(url.buffer())));
    // Such tracks answer with nothing at all to a request without the token.
    if (needs_po_token && common::trim(response.body).empty())
      throw PoTokenRequired(track.video_id);
    FetchedTranscript out{
        track.video_id, track.language, track.language_code, track.is_generated, {}};
    try {
      out.snippets = internal::parse_timed_text(response.body);
    } catch (const std::invalid_argument& e) {
      throw YouTubeDataUnparsable(track.video_id, e.what());
    }
    co_return out;
  }

 private:
  TranscriptClientOptions options_;
};

}  // namespace

std::shared_ptr<TranscriptConnection> make_transcript_connection(TranscriptClientOptions options) {
  return std::make_shared<RestTranscriptConnection>(std::move(options));
}

}  // namespace clients::youtube
