#include "qorl_multimodal/batch/manifest.hpp"

#include <fnmatch.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "qorl_core/errors.hpp"
#include "qorl_core/json.hpp"
#include "qorl_core/text.hpp"

namespace qorl_multimodal::batch::manifest {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct TooDeep {};

json parse_line(std::string_view line) {
  // The parser itself keeps its own stack, but the conversion to values recurses.
  const json::parser_callback_t limit_depth = [](int depth, json::parse_event_t, json&) {
    if (depth > MAX_JSON_DEPTH) throw TooDeep{};
    return true;
  };
  try {
    return json::parse(line, limit_depth);
  } catch (const TooDeep&) {
    throw qorl_core::ValueError("JSON nested deeper than " + std::to_string(MAX_JSON_DEPTH) +
                                " levels");
  } catch (const json::parse_error& error) {
    // nlohmann's message begins "[json.exception.parse_error.101] parse error at ...".
    const std::string what = error.what();
    const auto detail = what.find("] ");
    throw qorl_core::ValueError("not valid JSON: " +
                                (detail == std::string::npos ? what : what.substr(detail + 2)));
  }
}

SourceEntry entry_of_object(const json& object) {
  if (!object.is_object()) throw qorl_core::ValueError("a JSON line must be an object");
  SourceEntry entry;
  bool has_source = false;
  for (const auto& [key, value] : object.items()) {
    if (key == "source") {
      if (!value.is_string() || qorl_core::is_blank(value.get_ref<const std::string&>())) {
        throw qorl_core::ValueError("\"source\" must be a non-empty text");
      }
      entry.source = value.get<std::string>();
      has_source = true;
    } else if (key == "id") {
      if (value.is_string()) {
        entry.id = value.get<std::string>();
      } else if (value.is_number_integer()) {
        entry.id = value.dump();
      } else if (!value.is_null()) {
        throw qorl_core::ValueError("\"id\" must be a text or a whole number");
      }
    } else {
      entry.options.set(key, qorl_core::from_ordered_json(value));
    }
  }
  if (!has_source) throw qorl_core::ValueError("no \"source\" in the object");
  return entry;
}

bool matches(const std::string& pattern, const std::string& relative, const std::string& name) {
  const std::string& subject = pattern.find('/') == std::string::npos ? name : relative;
  return ::fnmatch(pattern.c_str(), subject.c_str(), 0) == 0;
}

bool matches_any(const std::vector<std::string>& patterns, const std::string& relative,
                 const std::string& name) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const std::string& pattern) { return matches(pattern, relative, name); });
}

}  // namespace

ManifestReader::ManifestReader(const std::string& path, std::istream& standard_input) {
  if (path == "-") {
    input_ = &standard_input;
    name_ = "<stdin>";
    return;
  }
  auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*file) throw std::system_error(errno, std::generic_category(), path);
  input_ = file.get();
  owned_ = std::move(file);
  name_ = path;
}

ManifestReader::ManifestReader(std::istream& input, std::string name)
    : input_(&input), name_(std::move(name)) {}

ManifestReader::~ManifestReader() = default;
ManifestReader::ManifestReader(ManifestReader&&) noexcept = default;
ManifestReader& ManifestReader::operator=(ManifestReader&&) noexcept = default;

std::optional<SourceEntry> ManifestReader::next() {
  std::string raw;
  while (std::getline(*input_, raw)) {
    ++line_number_;
    std::string_view line = raw;
    if (line_number_ == 1 && line.starts_with(kByteOrderMark)) line.remove_prefix(3);
    line = qorl_core::strip(line);
    if (line.empty() || line.front() == '#') continue;
    const std::string origin = name_ + ":" + std::to_string(line_number_);
    if (line.front() != '{') return SourceEntry{std::string(line), std::nullopt, {}, origin};
    try {
      SourceEntry entry = entry_of_object(parse_line(line));
      entry.origin = origin;
      return entry;
    } catch (const qorl_core::ValueError& error) {
      throw qorl_core::ValueError(origin + ": " + error.what());
    }
  }
  if (input_->bad()) throw std::runtime_error(name_ + ": read error");
  return std::nullopt;
}

std::vector<SourceEntry> read_manifest(const std::string& path, std::istream& standard_input) {
  ManifestReader reader(path, standard_input);
  std::vector<SourceEntry> entries;
  while (auto entry = reader.next()) entries.push_back(std::move(*entry));
  return entries;
}

// One folder on the current path: its entries, sorted, and how far the walk has gone in them.
struct FolderWalk::Level {
  fs::path relative;
  std::vector<std::string> names;
  std::size_t next = 0;
};

FolderWalk::FolderWalk(fs::path root, WalkFilter filter)
    : root_(std::move(root)), filter_(std::move(filter)) {
  std::error_code error;
  const fs::file_status status = fs::status(root_, error);
  if (!fs::exists(status)) throw qorl_core::FileNotFoundError("No such folder: " + root_.string());
  if (!fs::is_directory(status)) throw qorl_core::ValueError("Not a folder: " + root_.string());
  stack_.push_back({});
}

FolderWalk::~FolderWalk() = default;
FolderWalk::FolderWalk(FolderWalk&&) noexcept = default;
FolderWalk& FolderWalk::operator=(FolderWalk&&) noexcept = default;

std::optional<SourceEntry> FolderWalk::next() {
  while (!stack_.empty()) {
    Level& level = stack_.back();
    if (level.next == 0 && level.names.empty()) {
      for (const fs::directory_entry& item : fs::directory_iterator(root_ / level.relative)) {
        level.names.push_back(item.path().filename().string());
      }
      std::sort(level.names.begin(), level.names.end());
      if (level.names.empty()) {
        stack_.pop_back();
        continue;
      }
    }
    if (level.next == level.names.size()) {
      stack_.pop_back();
      continue;
    }
    const std::string name = level.names[level.next++];
    const fs::path relative = level.relative / name;
    const std::string relative_text = relative.generic_string();
    if (matches_any(filter_.exclude, relative_text, name)) continue;

    const fs::path path = root_ / relative;
    std::error_code error;
    const fs::file_status own = fs::symlink_status(path, error);
    if (fs::is_directory(own)) {
      stack_.push_back({relative, {}, 0});  // invalidates `level`
      continue;
    }
    // A link counts by what it points to, and only a regular file is taken.
    const fs::file_status target = fs::is_symlink(own) ? fs::status(path, error) : own;
    if (!fs::is_regular_file(target)) continue;
    if (!filter_.include.empty() && !matches_any(filter_.include, relative_text, name)) continue;
    return SourceEntry{path.string(), std::nullopt, {}, path.string()};
  }
  return std::nullopt;
}

std::vector<SourceEntry> walk(const fs::path& root, const WalkFilter& filter) {
  FolderWalk folder_walk(root, filter);
  std::vector<SourceEntry> entries;
  while (auto entry = folder_walk.next()) entries.push_back(std::move(*entry));
  return entries;
}

}  // namespace qorl_multimodal::batch::manifest
