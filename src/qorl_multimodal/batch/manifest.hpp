// Where a corpus run's sources come from: list files, JSON Lines manifests and folder walks, read
// one entry at a time so that a long manifest is never held whole.
//
// A manifest is read line by line. Blank lines and lines whose first non-blank character is `#`
// are skipped; white space (a Windows line end's CR included) is stripped from both ends of a
// line. A line whose first non-blank character is `{` is a JSON object,
//   {"source": "talk.wav", "id": "t-17", "language": "en", "captions": 3}
// with a non-empty text `source`, an optional `id` (text or whole number, kept as text) and any
// other key as a per-source option. Any other line is one source, taken as written. The rule is
// per line, not per file, so a list piped on standard input may mix both, and a file needs no
// particular extension; a path that itself starts with `{` is written `./{...}`.
#pragma once

#include <filesystem>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qorl_core/value.hpp"

namespace qorl_multimodal::batch::manifest {

struct SourceEntry {
  std::string source;
  std::optional<std::string> id{};
  qorl_core::Options options{};  // per-source options of a JSON line, in their order
  std::string origin{};          // "list.txt:12", or the path a folder walk found
  std::size_t index = 0;         // its place among a run's sources, where the caller numbers them
};

// Nesting deeper than this in a JSON line is refused.
inline constexpr int MAX_JSON_DEPTH = 64;

class ManifestReader {
 public:
  // Reads `path`; "-" reads `standard_input` instead (named "<stdin>" in messages). The stream
  // must outlive the reader. std::system_error when the file cannot be opened.
  ManifestReader(const std::string& path, std::istream& standard_input);
  // Reads `input`, naming it `name` in messages.
  ManifestReader(std::istream& input, std::string name);
  ~ManifestReader();
  ManifestReader(ManifestReader&&) noexcept;
  ManifestReader& operator=(ManifestReader&&) noexcept;

  // The next entry, or nothing at the end. ValueError "NAME:LINE: why" for a JSON line that is
  // not such an object (malformed, too deep, no text source, an id of another kind); reading may
  // go on after it with the following line. std::runtime_error when the stream fails.
  std::optional<SourceEntry> next();

 private:
  std::unique_ptr<std::istream> owned_;
  std::istream* input_;
  std::string name_;
  std::size_t line_number_ = 0;
};

// Every entry of the manifest at `path` ("-": standard input), for callers that want them all.
std::vector<SourceEntry> read_manifest(const std::string& path, std::istream& standard_input);

// Include and exclude patterns of a folder walk, fnmatch(3) globs. A pattern without a slash is
// matched against an entry's base name (`*.wav`, `.*`); one with a slash against its path
// relative to the folder, where `*` also crosses slashes (`raw/*` is everything below raw/). With
// no include pattern every regular file is taken; an exclude pattern wins over an include and
// also prunes the folders it matches (`.git`).
struct WalkFilter {
  std::vector<std::string> include{};
  std::vector<std::string> exclude{};
};

// The regular files below a folder, depth first, each folder's entries in the byte order of their
// names, so two walks of the same tree give the same order. Symbolic links to regular files are
// taken; symbolic links to folders are never followed (no loops, nothing outside the tree);
// FIFOs, sockets and devices are skipped. Sources are the folder's path joined with the relative
// path. Only the folders on the current path are held, never the whole tree.
class FolderWalk {
 public:
  // FileNotFoundError when `root` does not exist, ValueError when it is not a folder.
  FolderWalk(std::filesystem::path root, WalkFilter filter);
  ~FolderWalk();
  FolderWalk(FolderWalk&&) noexcept;
  FolderWalk& operator=(FolderWalk&&) noexcept;

  // The next file, or nothing at the end. std::filesystem::filesystem_error when a folder below
  // the root cannot be read (a run should not silently leave part of a tree out).
  std::optional<SourceEntry> next();

 private:
  struct Level;
  std::filesystem::path root_;
  WalkFilter filter_;
  std::vector<Level> stack_;
};

// Every file of the walk.
std::vector<SourceEntry> walk(const std::filesystem::path& root, const WalkFilter& filter);

}  // namespace qorl_multimodal::batch::manifest
