// The asynchronous client: curl's multi interface driven by the asio event loop. curl tells us
// which sockets to watch (socket callback) and when to wake it (timer callback); asio waits on
// those sockets and that timer and hands readiness back to curl_multi_socket_action.
#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/execution_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include <unistd.h>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "clients/http/exchange.hpp"
#include "clients/http/http.hpp"

namespace clients::http {

namespace asio = boost::asio;

using Completion = asio::any_completion_handler<void(std::exception_ptr, Response)>;

class Session::Impl : public std::enable_shared_from_this<Impl> {
 public:
  Impl(asio::any_io_executor executor, SessionOptions options);
  ~Impl() { close(); }

  void start(Request request, Completion completion);
  void close();
  bool is_closed() const noexcept { return multi_ == nullptr; }
  std::optional<std::string> cookie(std::string_view name) const;

 private:
  struct Transfer {
    std::uint64_t id;
    detail::EasyHandle easy;
    std::unique_ptr<detail::Exchange> exchange;
    Completion completion;
    // Set by a cancellation that may come before the transfer reaches the executor.
    std::shared_ptr<std::atomic<bool>> cancelled;
    // Ends the transfer when its answer is late (Request::answer_timeout).
    std::unique_ptr<asio::steady_timer> answer_timer;
  };
  // A socket curl asked us to watch; the descriptor never owns (closes) it.
  struct Watch {
    explicit Watch(const asio::any_io_executor& executor) : descriptor(executor) {}
    asio::posix::stream_descriptor descriptor;
    int what = 0;  // CURL_POLL_IN / _OUT / _INOUT
    bool reading = false;
    bool writing = false;
  };

  static int on_socket(CURL* easy, curl_socket_t fd, int what, void* self, void* socket_data);
  static int on_timer(CURLM* multi, long timeout_ms, void* self);
  static int on_close_socket(void* self, curl_socket_t fd);

  void watch(curl_socket_t fd, int what);
  void forget(curl_socket_t fd);
  void arm(curl_socket_t fd, const std::shared_ptr<Watch>& watch);
  void on_ready(curl_socket_t fd, const std::shared_ptr<Watch>& watch, int direction,
                boost::system::error_code ec);
  void socket_action(curl_socket_t fd, int events);
  void begin(Transfer transfer);
  void watch_answer(Transfer& transfer);
  void collect_finished();
  void cancel(CURL* easy, std::uint64_t id);
  // Ends a transfer in flight with `error` unless it has finished already.
  void abort(CURL* easy, std::uint64_t id, std::exception_ptr error);
  void complete(Transfer transfer, std::exception_ptr error, Response response);
  void post_completion(Completion completion, std::exception_ptr error, Response response);

  asio::any_io_executor executor_;
  SessionOptions options_;
  CURLM* multi_ = nullptr;
  CURLSH* share_ = nullptr;
  asio::steady_timer timer_;
  std::unordered_map<CURL*, Transfer> transfers_;
  std::unordered_map<curl_socket_t, std::shared_ptr<Watch>> watches_;
  std::atomic<std::uint64_t> next_id_ = 0;
};

Session::Impl::Impl(asio::any_io_executor executor, SessionOptions options)
    : executor_(std::move(executor)), options_(std::move(options)), timer_(executor_) {
  detail::ensure_curl_initialized();
  multi_ = curl_multi_init();
  share_ = curl_share_init();
  if (!multi_ || !share_) {
    if (multi_) curl_multi_cleanup(std::exchange(multi_, nullptr));
    if (share_) curl_share_cleanup(std::exchange(share_, nullptr));
    throw Error("Cannot create an HTTP session");
  }
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &Impl::on_socket);
  curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &Impl::on_timer);
  curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
}

void Session::Impl::start(Request request, Completion completion) {
  // Prepared on the caller's thread; the multi handle is only touched on the executor.
  detail::EasyHandle easy_handle;
  std::unique_ptr<detail::Exchange> exchange;
  try {
    easy_handle = detail::make_easy();
    exchange = std::make_unique<detail::Exchange>(std::move(request));
    exchange->configure(easy_handle.get(), options_);
    curl_easy_setopt(easy_handle.get(), CURLOPT_CLOSESOCKETFUNCTION, &Impl::on_close_socket);
    curl_easy_setopt(easy_handle.get(), CURLOPT_CLOSESOCKETDATA, this);
  } catch (...) {
    return post_completion(std::move(completion), std::current_exception(), Response{});
  }
  Transfer transfer{++next_id_,
                    std::move(easy_handle),
                    std::move(exchange),
                    std::move(completion),
                    std::make_shared<std::atomic<bool>>(false),
                    nullptr};

  auto slot = asio::get_associated_cancellation_slot(transfer.completion);
  if (slot.is_connected()) {
    slot.assign([weak = weak_from_this(), easy = transfer.easy.get(), id = transfer.id,
                 cancelled = transfer.cancelled](asio::cancellation_type) {
      cancelled->store(true);
      // Posted: the signal may come from inside a curl callback or from another thread.
      if (auto self = weak.lock()) {
        asio::post(self->executor_, [weak, easy, id] {
          if (auto self = weak.lock()) self->cancel(easy, id);
        });
      }
    });
  }
  asio::dispatch(executor_, [self = shared_from_this(), transfer = std::move(transfer)]() mutable {
    self->begin(std::move(transfer));
  });
}

void Session::Impl::begin(Transfer transfer) {
  if (is_closed()) {
    return complete(std::move(transfer),
                    std::make_exception_ptr(Error("The HTTP session is closed")), Response{});
  }
  if (transfer.cancelled->load()) {
    return complete(
        std::move(transfer),
        std::make_exception_ptr(boost::system::system_error(asio::error::operation_aborted)),
        Response{});
  }
  CURL* easy = transfer.easy.get();
  if (options_.cookies) curl_easy_setopt(easy, CURLOPT_SHARE, share_);
  watch_answer(transfer);
  transfers_.emplace(easy, std::move(transfer));
  // Starts the transfer through the timer callback (curl asks to be woken at once).
  if (CURLMcode code = curl_multi_add_handle(multi_, easy); code != CURLM_OK) {
    auto node = transfers_.extract(easy);
    complete(std::move(node.mapped()),
             std::make_exception_ptr(
                 Error(std::string("Cannot start the HTTP request: ") + curl_multi_strerror(code))),
             Response{});
  }
}

void Session::Impl::watch_answer(Transfer& transfer) {
  const auto& limit = transfer.exchange->answer_timeout();
  if (!limit) return;
  transfer.answer_timer = std::make_unique<asio::steady_timer>(executor_, *limit);
  transfer.exchange->on_answer([timer = transfer.answer_timer.get()] { timer->cancel(); });
  transfer.answer_timer->async_wait([weak = weak_from_this(), easy = transfer.easy.get(),
                                     id = transfer.id](boost::system::error_code ec) {
    if (ec == asio::error::operation_aborted) return;
    auto self = weak.lock();
    if (!self) return;
    auto it = self->transfers_.find(easy);
    if (it == self->transfers_.end() || it->second.id != id || it->second.exchange->answered())
      return;
    self->abort(easy, id, std::make_exception_ptr(it->second.exchange->overdue()));
  });
}

void Session::Impl::cancel(CURL* easy, std::uint64_t id) {
  abort(easy, id,
        std::make_exception_ptr(boost::system::system_error(asio::error::operation_aborted)));
}

void Session::Impl::abort(CURL* easy, std::uint64_t id, std::exception_ptr error) {
  auto it = transfers_.find(easy);
  if (it == transfers_.end() || it->second.id != id) return;  // already finished
  auto node = transfers_.extract(it);
  curl_multi_remove_handle(multi_, easy);
  complete(std::move(node.mapped()), error, Response{});
}

void Session::Impl::complete(Transfer transfer, std::exception_ptr error, Response response) {
  post_completion(std::move(transfer.completion), error, std::move(response));
}

void Session::Impl::post_completion(Completion completion, std::exception_ptr error,
                                    Response response) {
  // Always posted, never run inside our curl loop or inside a cancellation signal; it then runs
  // on the completion's own executor.
  auto completion_executor = asio::get_associated_executor(completion, executor_);
  asio::post(executor_,
             asio::bind_executor(completion_executor, [completion = std::move(completion), error,
                                                       response = std::move(response)]() mutable {
               asio::get_associated_cancellation_slot(completion).clear();
               std::move(completion)(error, std::move(response));
             }));
}

void Session::Impl::close() {
  if (is_closed()) return;
  // Removing handles may call the socket and timer callbacks; they still work here.
  auto transfers = std::move(transfers_);
  transfers_.clear();
  for (auto& [easy, transfer] : transfers) {
    curl_multi_remove_handle(multi_, easy);
    complete(std::move(transfer), std::make_exception_ptr(Error("The HTTP session was closed")),
             Response{});
  }
  transfers.clear();  // easy handles go before the share they use
  // Closes the pooled connections, through on_close_socket.
  curl_multi_cleanup(std::exchange(multi_, nullptr));
  if (share_) curl_share_cleanup(std::exchange(share_, nullptr));
  while (!watches_.empty()) forget(watches_.begin()->first);
  timer_.cancel();
}

std::optional<std::string> Session::Impl::cookie(std::string_view name) const {
  if (is_closed() || !options_.cookies) return std::nullopt;
  detail::EasyHandle easy = detail::make_easy();
  curl_easy_setopt(easy.get(), CURLOPT_SHARE, share_);
  curl_slist* cookies = nullptr;
  if (curl_easy_getinfo(easy.get(), CURLINFO_COOKIELIST, &cookies) != CURLE_OK) return std::nullopt;
  std::optional<std::string> found;
  // Netscape format: domain, subdomains, path, secure, expiry, name, value (tab separated).
  for (curl_slist* item = cookies; item && !found; item = item->next) {
    std::string_view line(item->data);
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
      size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    if (fields.size() >= 7 && fields[5] == name) found = std::string(fields[6]);
  }
  curl_slist_free_all(cookies);
  return found;
}

int Session::Impl::on_socket(CURL*, curl_socket_t fd, int what, void* self_pointer, void*) {
  auto* self = static_cast<Impl*>(self_pointer);
  try {
    if (what == CURL_POLL_REMOVE) {
      self->forget(fd);
    } else {
      self->watch(fd, what);
    }
    return 0;
  } catch (...) {
    return -1;  // curl fails the transfers on this socket
  }
}

int Session::Impl::on_timer(CURLM*, long timeout_ms, void* self_pointer) {
  auto* self = static_cast<Impl*>(self_pointer);
  if (timeout_ms < 0) {
    self->timer_.cancel();
    return 0;
  }
  // Even a zero time-out goes through the loop: curl must not be re-entered from here.
  self->timer_.expires_after(std::chrono::milliseconds(timeout_ms));
  self->timer_.async_wait([weak = self->weak_from_this()](boost::system::error_code ec) {
    if (ec == asio::error::operation_aborted) return;
    if (auto self = weak.lock()) self->socket_action(CURL_SOCKET_TIMEOUT, 0);
  });
  return 0;
}

int Session::Impl::on_close_socket(void* self_pointer, curl_socket_t fd) {
  // Stop watching before the number can be reused by a new socket.
  static_cast<Impl*>(self_pointer)->forget(fd);
  return ::close(fd);
}

void Session::Impl::watch(curl_socket_t fd, int what) {
  auto& watch = watches_[fd];
  if (!watch) {
    auto fresh = std::make_shared<Watch>(executor_);
    boost::system::error_code ec;
    fresh->descriptor.assign(fd, ec);
    if (ec) {
      watches_.erase(fd);
      throw boost::system::system_error(ec);
    }
    watch = std::move(fresh);
  }
  watch->what = what;
  arm(fd, watch);
}

void Session::Impl::forget(curl_socket_t fd) {
  auto it = watches_.find(fd);
  if (it == watches_.end()) return;
  boost::system::error_code ignored;
  it->second->descriptor.cancel(ignored);
  it->second->descriptor.release();  // curl owns the socket
  watches_.erase(it);
}

void Session::Impl::arm(curl_socket_t fd, const std::shared_ptr<Watch>& watch) {
  using Wait = asio::posix::stream_descriptor::wait_type;
  auto wait = [&](Wait type, bool& pending, int direction) {
    if (pending) return;
    pending = true;
    watch->descriptor.async_wait(type, [weak = weak_from_this(), watch, fd, &pending,
                                        direction](boost::system::error_code ec) {
      pending = false;
      if (auto self = weak.lock()) self->on_ready(fd, watch, direction, ec);
    });
  };
  if (watch->what & CURL_POLL_IN) wait(Wait::wait_read, watch->reading, CURL_CSELECT_IN);
  if (watch->what & CURL_POLL_OUT) wait(Wait::wait_write, watch->writing, CURL_CSELECT_OUT);
}

void Session::Impl::on_ready(curl_socket_t fd, const std::shared_ptr<Watch>& watch, int direction,
                             boost::system::error_code ec) {
  if (ec == asio::error::operation_aborted) return;
  auto current = [&] {
    auto it = watches_.find(fd);
    return it != watches_.end() && it->second == watch;
  };
  if (!current()) return;
  const int wanted = direction == CURL_CSELECT_IN ? CURL_POLL_IN : CURL_POLL_OUT;
  if (!(watch->what & wanted))
    return;  // curl lost interest meanwhile; it re-arms through on_socket
  socket_action(fd, ec ? CURL_CSELECT_ERR : direction);
  if (current()) arm(fd, watch);
}

void Session::Impl::socket_action(curl_socket_t fd, int events) {
  if (is_closed()) return;
  int running = 0;
  curl_multi_socket_action(multi_, fd, events, &running);
  collect_finished();
}

void Session::Impl::collect_finished() {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    CURL* easy = message->easy_handle;
    CURLcode code = message->data.result;
    auto node = transfers_.extract(easy);
    curl_multi_remove_handle(multi_, easy);
    if (node.empty()) continue;
    Transfer& transfer = node.mapped();
    std::exception_ptr error;
    Response response;
    try {
      if (transfer.exchange->redirect(easy, code)) {
        // The next hop on the same handle: its cookies and connections carry over.
        transfers_.insert(std::move(node));
        if (CURLMcode added = curl_multi_add_handle(multi_, easy); added != CURLM_OK) {
          node = transfers_.extract(easy);
          throw Error(std::string("Cannot follow the redirect: ") + curl_multi_strerror(added));
        }
        continue;
      }
      response = transfer.exchange->finish(easy, code);
    } catch (...) {
      error = std::current_exception();
    }
    complete(std::move(node.mapped()), error, std::move(response));
  }
}

Session::Session(asio::any_io_executor executor, SessionOptions options)
    : impl_(std::make_shared<Impl>(std::move(executor), std::move(options))) {}

Session::~Session() { close(); }

asio::awaitable<Response> Session::send(Request request) {
  // Not a coroutine: the operation itself holds the session state (and the request), so it may
  // outlive a Session destroyed meanwhile.
  return asio::async_initiate<const asio::use_awaitable_t<>&, void(std::exception_ptr, Response)>(
      [](auto handler, std::shared_ptr<Impl> impl, Request request) {
        impl->start(std::move(request), Completion(std::move(handler)));
      },
      asio::use_awaitable, impl_, std::move(request));
}

void Session::close() { impl_->close(); }

bool Session::is_closed() const noexcept { return impl_->is_closed(); }

std::optional<std::string> Session::cookie(std::string_view name) const {
  return impl_->cookie(name);
}

namespace {

// Holds the shared session of one execution context until the context shuts down.
class SharedSessions : public asio::execution_context::service {
 public:
  static inline asio::execution_context::id id;

  explicit SharedSessions(asio::execution_context& context) : service(context) {}

  Session& get(const asio::any_io_executor& executor) {
    std::lock_guard lock(mutex_);
    if (!session_) {
      // Cookies stay with the request that received them: unrelated callers share this session.
      SessionOptions options;
      options.cookies = false;
      session_ = std::make_unique<Session>(asio::make_strand(executor), std::move(options));
    }
    return *session_;
  }

 private:
  // The session holds timers and descriptors of this context: it goes while the context's
  // services still exist.
  void shutdown() override {
    std::lock_guard lock(mutex_);
    session_.reset();
  }

  std::mutex mutex_;
  std::unique_ptr<Session> session_;
};

}  // namespace

Session& shared_session(const asio::any_io_executor& executor) {
  auto& context = asio::query(executor, asio::execution::context);
  return asio::use_service<SharedSessions>(context).get(executor);
}

asio::awaitable<Response> fetch(Request request, Session* session) {
  if (!session) {
    const auto executor = co_await asio::this_coro::executor;
    session = &shared_session(executor);
  }
  co_return co_await session->send(std::move(request));
}

}  // namespace clients::http
