// The blocking client: curl's easy interface, one fresh handle per request, with connections and
// cookies kept in a share from one call to the next. (Reusing one handle through curl_easy_reset
// leaks the cookie engine's file list in this libcurl.)
#include "clients/http/exchange.hpp"
#include "clients/http/http.hpp"

namespace clients::http {

class BlockingClient::Impl {
 public:
  explicit Impl(SessionOptions options) : options_(std::move(options)) {
    detail::ensure_curl_initialized();
    share_.reset(curl_share_init());
    if (!share_) throw Error("Cannot create an HTTP client");
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }

  Response send(const Request& request) {
    detail::EasyHandle easy = detail::make_easy();
    detail::Exchange exchange(request);
    exchange.configure(easy.get(), options_);
    curl_easy_setopt(easy.get(), CURLOPT_SHARE, share_.get());
    CURLcode code = curl_easy_perform(easy.get());
    return exchange.finish(easy.get(), code);
  }

 private:
  struct ShareDeleter {
    void operator()(CURLSH* share) const noexcept { curl_share_cleanup(share); }
  };

  SessionOptions options_;
  std::unique_ptr<CURLSH, ShareDeleter> share_;
};

BlockingClient::BlockingClient(SessionOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

BlockingClient::~BlockingClient() = default;

Response BlockingClient::send(const Request& request) { return impl_->send(request); }

}  // namespace clients::http
