#include "clients/process/process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

extern char** environ;

namespace clients::process {

namespace {

namespace asio = boost::asio;
using Strand = asio::strand<asio::any_io_executor>;
using Completion = asio::any_completion_handler<void(std::exception_ptr, ProcessResult)>;

// Closes a descriptor once, unless handed over.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const noexcept { return fd_; }
  int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

ProcessError system_error(const std::string& what, int error) {
  return ProcessError(what + ": " + std::strerror(error));
}

// Both ends close-on-exec, so that programs other threads start do not inherit them.
std::pair<Fd, Fd> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw system_error("cannot create a pipe", errno);
  return {Fd(fds[0]), Fd(fds[1])};
}

// Standard input is a socket, not a pipe: writing to it after the program has gone fails with
// EPIPE instead of raising SIGPIPE in the whole process (asio sends with MSG_NOSIGNAL).
std::pair<Fd, Fd> make_socket_pair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    throw system_error("cannot create a socket pair", errno);
  }
  return {Fd(fds[0]), Fd(fds[1])};
}

struct Spawned {
  pid_t pid = 0;
  Fd pidfd;
};

// Starts the program as the leader of a new process group, so that the programs it starts in turn
// (yt-dlp runs ffmpeg) can be killed with it.
Spawned spawn(const std::vector<std::string>& argv, int in_fd, int out_fd, int err_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, in_fd, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Default signal handling and no blocked signals, whatever the calling thread has set.
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t signals;
  sigfillset(&signals);
  sigdelset(&signals, SIGKILL);
  sigdelset(&signals, SIGSTOP);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  Spawned spawned;
  const int failed =
      ::posix_spawnp(&spawned.pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw system_error("cannot run " + argv[0], failed);
  // Through syscall(): glibc 2.36's <sys/pidfd.h> does not declare its functions extern "C".
  spawned.pidfd = Fd(static_cast<int>(::syscall(SYS_pidfd_open, spawned.pid, 0)));
  if (spawned.pidfd.get() < 0) {
    const int error = errno;
    ::kill(-spawned.pid, SIGKILL);
    while (::waitpid(spawned.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    throw system_error("cannot watch " + argv[0], error);
  }
  return spawned;
}

enum class Stop { None, Deadline, OutputLimit, Cancelled };

// One running program. Every handler runs on one strand; the run completes once the program has
// been reaped and both outputs (and the input, when given) are finished.
class Run : public std::enable_shared_from_this<Run> {
 public:
  Run(const asio::any_io_executor& executor, std::vector<std::string> argv,
      const ProcessOptions& options)
      : strand_(asio::make_strand(executor)),
        program_(argv.at(0)),
        options_(options),
        out_(strand_),
        err_(strand_),
        in_(strand_),
        exit_watch_(strand_),
        deadline_(strand_) {
    auto [out_read, out_write] = make_pipe();
    auto [err_read, err_write] = make_pipe();
    Fd in_read, in_write;
    if (options.input) std::tie(in_read, in_write) = make_socket_pair();
    Spawned spawned = spawn(argv, in_read.get(), out_write.get(), err_write.get());
    pid_ = spawned.pid;
    exit_watch_.assign(spawned.pidfd.release());
    out_.assign(out_read.release());
    err_.assign(err_read.release());
    if (options.input) in_.assign(asio::local::stream_protocol(), in_write.release());
  }

  ~Run() {
    // Only reached without a completed run when starting it failed half-way.
    if (!reaped_) {
      ::kill(-pid_, SIGKILL);
      while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }

  void start(Completion handler) {
    handler_.emplace(std::move(handler));
    auto slot = handler_->get_cancellation_slot();
    if (slot.is_connected()) {
      slot.assign([weak = weak_from_this(), strand = strand_](asio::cancellation_type) {
        asio::post(strand, [weak] {
          if (auto self = weak.lock()) self->stop(Stop::Cancelled);
        });
      });
    }
    asio::dispatch(strand_, [self = shared_from_this()] { self->begin(); });
  }

 private:
  void begin() {
    pending_ = options_.input ? 4 : 3;
    read(out_, out_buffer_, result_.out);
    read(err_, err_buffer_, result_.err);
    watch_exit();
    if (options_.input) write_input();
    if (options_.deadline.count() > 0) {
      deadline_.expires_after(options_.deadline);
      deadline_.async_wait([self = shared_from_this()](boost::system::error_code ec) {
        if (!ec) self->stop(Stop::Deadline);
      });
    }
  }

  // Reads until the end of the output; past the cap the rest is read and dropped.
  void read(asio::posix::stream_descriptor& stream, std::array<char, 65536>& buffer,
            std::string& sink) {
    stream.async_read_some(asio::buffer(buffer),
                           [self = shared_from_this(), &stream, &buffer, &sink](
                               boost::system::error_code ec, std::size_t n) {
                             if (ec) return self->finish_one();
                             if (sink.size() + n > self->options_.output_limit) {
                               self->stop(Stop::OutputLimit);
                             } else if (self->stop_ == Stop::None) {
                               sink.append(buffer.data(), n);
                             }
                             self->read(stream, buffer, sink);
                           });
  }

  void write_input() {
    asio::async_write(in_, asio::buffer(options_.input->data(), options_.input->size()),
                      [self = shared_from_this()](boost::system::error_code, std::size_t) {
                        // A program may end without reading all its input; that is its answer.
                        boost::system::error_code ignored;
                        self->in_.close(ignored);
                        self->finish_one();
                      });
  }

  // The process descriptor becomes readable when the program ends.
  void watch_exit() {
    exit_watch_.async_wait(asio::posix::stream_descriptor::wait_read,
                           [self = shared_from_this()](boost::system::error_code ec) {
                             if (ec == asio::error::interrupted) return self->watch_exit();
                             self->reap();
                           });
  }

  // The leader has ended: whatever it left behind in its group goes too, then it is reaped.
  void reap() {
    ::kill(-pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    result_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    boost::system::error_code ignored;
    deadline_.cancel();
    exit_watch_.close(ignored);
    finish_one();
  }

  void stop(Stop reason) {
    if (reaped_ || stop_ != Stop::None) return;
    stop_ = reason;
    ::kill(-pid_, SIGKILL);
    // The outputs end with the group; the input may be blocked on a program that no longer reads.
    boost::system::error_code ignored;
    in_.cancel(ignored);
  }

  void finish_one() {
    if (--pending_ > 0) return;
    Completion handler = std::move(*handler_);
    handler_.reset();
    handler.get_cancellation_slot().clear();
    std::exception_ptr error = outcome();
    auto executor = asio::get_associated_executor(handler, strand_);
    asio::dispatch(executor,
                   [handler = std::move(handler), error, result = std::move(result_)]() mutable {
                     std::move(handler)(error, std::move(result));
                   });
  }

  std::exception_ptr outcome() const {
    switch (stop_) {
      case Stop::None: return nullptr;
      case Stop::Deadline:
        return std::make_exception_ptr(
            ProcessTimeout(program_ + " did not finish within " +
                               std::to_string(options_.deadline.count()) + " ms and was killed",
                           program_));
      case Stop::OutputLimit:
        return std::make_exception_ptr(ProcessError(program_ + " wrote more than " +
                                                        std::to_string(options_.output_limit) +
                                                        " bytes and was killed",
                                                    program_, "output_limit"));
      case Stop::Cancelled:
        return std::make_exception_ptr(boost::system::system_error(asio::error::operation_aborted));
    }
    return nullptr;
  }

  Strand strand_;
  std::string program_;
  ProcessOptions options_;
  asio::posix::stream_descriptor out_;
  asio::posix::stream_descriptor err_;
  asio::local::stream_protocol::socket in_;
  asio::posix::stream_descriptor exit_watch_;
  asio::steady_timer deadline_;
  std::array<char, 65536> out_buffer_{};
  std::array<char, 65536> err_buffer_{};
  std::optional<Completion> handler_;
  ProcessResult result_;
  pid_t pid_ = 0;
  int pending_ = 0;
  bool reaped_ = false;
  Stop stop_ = Stop::None;
};

template <typename Token>
auto async_wait_for(std::shared_ptr<Run> run, Token&& token) {
  return asio::async_initiate<Token, void(std::exception_ptr, ProcessResult)>(
      [](auto handler, std::shared_ptr<Run> run) { run->start(Completion(std::move(handler))); },
      token, std::move(run));
}

}  // namespace

asio::awaitable<ProcessResult> async_run_process(std::vector<std::string> argv,
                                                 ProcessOptions options) {
  if (argv.empty()) throw ProcessError("no program given");
  const auto executor = co_await asio::this_coro::executor;
  auto run = std::make_shared<Run>(executor, std::move(argv), options);
  ProcessResult result = co_await async_wait_for(std::move(run), asio::use_awaitable);
  co_return result;
}

}  // namespace clients::process
