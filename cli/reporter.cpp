#include "cli/reporter.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "cli/output.hpp"
#include "qorl_core/files.hpp"
#include "qorl_multimodal/batch/usage.hpp"

namespace qorl_cli {

namespace batch_usage = qorl_multimodal::batch::usage;

Reporter::Reporter(ReportSettings settings) : settings_(std::move(settings)) {
  if (settings_.progress) ticker_ = std::thread([this] { tick(); });
}

Reporter::~Reporter() { close(); }

void Reporter::close() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    clear_locked();
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

void Reporter::started(std::size_t index, std::string source) {
  std::lock_guard lock(mutex_);
  if (!settings_.output_dir.empty()) stems_.push_back(stem_names_.next(source));
  sources_.resize(std::max(sources_.size(), index + 1));
  sources_[index] = std::move(source);
  ++running_;
  draw_locked();
}

void Reporter::finished(std::size_t index, Report report) {
  std::lock_guard lock(mutex_);
  if (report.cached) ++from_store_;
  if (!report.ok && report.pending.empty()) ++failed_;
  deliver_locked(index, std::move(report));
}

void Reporter::refused_line(const std::string& message) {
  std::lock_guard lock(mutex_);
  clear_locked();
  any_failed_ = true;
  ++failed_;
  std::cerr << output::for_descriptor(STDERR_FILENO,
                                      "qorl-multimodal: " + output::one_line(message))
            << std::endl;
  draw_locked();
}

bool Reporter::any_failed() const {
  std::lock_guard lock(mutex_);
  return any_failed_;
}

std::string Reporter::output_error() const {
  std::lock_guard lock(mutex_);
  return output_error_;
}

void Reporter::deliver_locked(std::size_t index, Report report) {
  --running_;
  if (report.ok) ++done_;
  clear_locked();
  if (!settings_.keep_order) {
    write_locked(index, std::move(report));
  } else {
    waiting_.emplace(index, std::move(report));
    for (auto next = waiting_.find(next_to_write_); next != waiting_.end();
         next = waiting_.find(++next_to_write_)) {
      write_locked(next->first, std::move(next->second));
      waiting_.erase(next);
    }
  }
  draw_locked();
}

void Reporter::write_locked(std::size_t index, Report report) {
  if (report.ok) {
    if (!settings_.quiet) {
      for (const auto& warning : report.outcome.warnings) {
        std::cerr << output::for_descriptor(
                         STDERR_FILENO, "qorl-multimodal: " + output::one_line(sources_[index]) +
                                            ": warning: " + output::one_line(warning))
                  << std::endl;
      }
    }
    write_result_locked(index, report);
  } else if (!report.pending.empty()) {
    if (!settings_.quiet) {
      std::cerr << output::for_descriptor(STDERR_FILENO,
                                          "qorl-multimodal: " + output::one_line(sources_[index]) +
                                              ": " + output::one_line(report.pending))
                << std::endl;
    }
  } else {
    write_error_locked(index, report.error);
  }
}

void Reporter::write_result_locked(std::size_t index, const Report& report) {
  const Outcome& outcome = report.outcome;
  const std::string& source = sources_[index];
  std::string text =
      settings_.json
          ? output::json_line(source, outcome.record, report.cached,
                              report.usage == batch_usage::Usage{} ? "" : report.usage.to_json(),
                              outcome.via)
          : outcome.text;
  if (!text.empty() && text.back() != '\n') text += '\n';
  if (!settings_.output_dir.empty()) {
    const auto path = std::filesystem::path(settings_.output_dir) /
                      (stems_[index] + (settings_.json ? ".json" : settings_.extension));
    std::error_code same;
    if (std::filesystem::equivalent(path, source, same)) {
      return write_error_locked(index, "the result would overwrite the source: " + path.string());
    }
    try {
      qorl_core::write_file_atomically(path, text);
    } catch (const std::system_error& e) {
      write_error_locked(index, e.what());
    }
    return;
  }
  if (settings_.json) return write_stdout_locked(text);
  // Several results are told apart by a header naming the source.
  if (settings_.several) text = "==> " + source + " <==\n" + text;
  write_stdout_locked(output::for_descriptor(STDOUT_FILENO, std::move(text)));
}

void Reporter::write_error_locked(std::size_t index, const std::string& message) {
  any_failed_ = true;
  const std::string& source = sources_[index];
  std::cerr << output::for_descriptor(STDERR_FILENO,
                                      "qorl-multimodal: " + output::one_line(source) + ": " +
                                          output::one_line(message))
            << std::endl;
  if (settings_.json && settings_.output_dir.empty()) {
    write_stdout_locked(output::json_error_line(source, output::one_line(message)) + "\n");
  }
}

void Reporter::write_stdout_locked(const std::string& text) {
  if (!output_error_.empty()) return;
  std::cout << text;
  std::cout.flush();
  if (!std::cout) {
    output_error_ = std::string("cannot write standard output: ") + std::strerror(errno);
    any_failed_ = true;
  }
}

void Reporter::draw_locked() {
  if (!settings_.progress || stopping_) return;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  std::string line = std::to_string(done_) + " done";
  if (from_store_ > 0) line += " (" + std::to_string(from_store_) + " from the store)";
  line += ", " + std::to_string(failed_) + " failed, " + std::to_string(running_) + " running, " +
          batch_usage::format_elapsed(elapsed);
  // From the pace of the sources converted so far; those from the store cost next to nothing.
  const std::size_t finished = done_ + failed_;
  const std::size_t paced = finished - from_store_;
  if (settings_.total && paced > 0 && *settings_.total > finished) {
    const double left = elapsed.count() / static_cast<double>(paced) *
                        static_cast<double>(*settings_.total - finished);
    line += ", about " + batch_usage::format_elapsed(std::chrono::duration<double>(left)) + " left";
  }
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
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
