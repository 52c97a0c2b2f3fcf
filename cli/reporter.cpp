#include "cli/reporter.hpp"

#include <cstdio>
#include <iostream>

#include "cli/output.hpp"

namespace qorl_cli {

Reporter::Reporter(std::size_t total, bool json, bool show_progress)
    : total_(total), json_(json), show_progress_(show_progress) {
  if (show_progress_) ticker_ = std::thread([this] { tick(); });
}

Reporter::~Reporter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    clear_locked();
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

void Reporter::started() {
  std::lock_guard lock(mutex_);
  ++running_;
  draw_locked();
}

void Reporter::succeeded(const std::string& source, const Outcome& outcome) {
  std::lock_guard lock(mutex_);
  clear_locked();
  if (json_) {
    std::cout << output::json_line(source, outcome.record) << '\n';
  } else {
    // Several results are told apart by a header naming the source.
    if (total_ > 1) std::cout << "==> " << source << " <==\n";
    std::cout << outcome.text;
    if (!outcome.text.empty() && outcome.text.back() != '\n') std::cout << '\n';
  }
  std::cout.flush();
  finish_locked();
}

void Reporter::failed(const std::string& source, const std::string& message) {
  std::lock_guard lock(mutex_);
  clear_locked();
  std::cerr << "qorl-multimodal: " << output::one_line(source) << ": " << output::one_line(message)
            << std::endl;
  finish_locked();
}

void Reporter::finish_locked() {
  --running_;
  ++done_;
  draw_locked();
}

void Reporter::draw_locked() {
  if (!show_progress_ || stopping_) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - start_).count();
  std::fprintf(stderr, "\r\033[K%zu/%zu done, %zu running, %llds", done_, total_, running_,
               static_cast<long long>(seconds));
  std::fflush(stderr);
  drawn_ = true;
}

void Reporter::clear_locked() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

void Reporter::tick() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::milliseconds(500));
    draw_locked();
  }
}

}  // namespace qorl_cli
