#include "clients/youtube/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

extern char** environ;

namespace clients::youtube {

namespace {

// Closes a descriptor once.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const noexcept { return fd_; }
  void reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read_end;
  Fd write_end;
};

Pipe make_pipe() {
  int fds[2];
  // Close-on-exec so that programs other threads start do not inherit them.
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw ProcessError(std::string("cannot create a pipe: ") + std::strerror(errno));
  }
  Pipe p;
  p.read_end = Fd(fds[0]);
  p.write_end = Fd(fds[1]);
  return p;
}

// Reads both pipes until both are closed; reading only one could leave the program blocked
// on a full other pipe.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw ProcessError(std::string("cannot read program output: ") + std::strerror(errno));
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;  // poll ignores negative descriptors
        --open;
      }
    }
  }
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv) {
  if (argv.empty()) throw ProcessError("no program given");
  Pipe out = make_pipe();
  Pipe err = make_pipe();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write_end.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write_end.get(), STDERR_FILENO);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw ProcessError("cannot run " + argv[0] + ": " + std::strerror(spawned));
  }
  out.write_end.reset();
  err.write_end.reset();

  ProcessResult result;
  try {
    drain(out.read_end.get(), err.read_end.get(), result.out, result.err);
  } catch (...) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    throw;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      throw ProcessError(std::string("cannot wait for ") + argv[0] + ": " + std::strerror(errno));
    }
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace clients::youtube
