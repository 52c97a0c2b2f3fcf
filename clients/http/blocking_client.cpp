// The blocking client: curl's easy interface on one handle, which keeps its connections and
// cookies from one call to the next.
#include "clients/http/exchange.hpp"
#include "clients/http/http.hpp"

namespace clients::http {

class BlockingClient::Impl {
 public:
  explicit Impl(SessionOptions options) : options_(std::move(options)), easy_(detail::make_easy()) {}

  Response send(const Request& request) {
    curl_easy_reset(easy_.get());  // options only: connections and cookies stay
    detail::Exchange exchange(request);
    exchange.configure(easy_.get(), options_);
    CURLcode code = curl_easy_perform(easy_.get());
    return exchange.finish(easy_.get(), code);
  }

 private:
  SessionOptions options_;
  detail::EasyHandle easy_;
};

BlockingClient::BlockingClient(SessionOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

BlockingClient::~BlockingClient() = default;

Response BlockingClient::send(const Request& request) { return impl_->send(request); }

}  // namespace clients::http
