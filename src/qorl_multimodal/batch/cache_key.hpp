// The key under which a conversion's result is stored: the same media asked the same way gives
// the same key, and anything that may change the answer gives another.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "qorl_core/value.hpp"

namespace qorl_multimodal::batch::cache_key {

// Raised whenever a prompt or a response schema changes, so that results made with the old ones
// are converted again instead of being taken from a store.
inline constexpr int PROMPT_VERSION = 1;

// What is converted: the digest of the media's bytes, or for a YouTube link its video id (the
// transcript service is asked by id, so every form of the link is the same media).
struct MediaDigest {
  std::string kind;        // "sha256" or "youtube"
  std::string digest;      // lower-case hex SHA-256 of the bytes, or the video id
  std::uint64_t size = 0;  // bytes hashed (0 for a video id)

  friend bool operator==(const MediaDigest&, const MediaDigest&) = default;
};

// How it is converted. `model` is the model actually used (the preset's default resolved, not
// left empty), `options` every option that can change the answer (language, number of
// captions, prompt texts, ...) and none that cannot (jobs, time-outs, output paths).
struct Request {
  std::string subcommand;
  std::string backend{};  // empty for subcommands without backends
  std::string model{};
  qorl_core::Options options{};
  int prompt_version = PROMPT_VERSION;
};

MediaDigest digest_bytes(std::string_view bytes);
// Hashes the regular file at `path` in blocks, never holding it whole. std::system_error when it
// cannot be opened or read; ValueError for anything but a regular file (a FIFO would block).
MediaDigest digest_file(const std::filesystem::path& path);
// `video_id` as the transcript backends extract it (11 characters for YouTube); ValueError when
// empty.
MediaDigest youtube_video(std::string_view video_id);

// `options` as canonical JSON: keys sorted bytewise at every level, no white space, numbers in
// their shortest round-trip form. Integers and floating-point numbers stay distinct (1 and 1.0
// differ), as does an option set to None from an option left out. TypeError for bytes or host
// objects, which have no canonical text.
std::string canonical_options(const qorl_core::Options& options);

// Lower-case hex SHA-256 over the media digest and every field of `request`, each field framed by
// its length so that no two different inputs share their framed bytes.
std::string compute_key(const MediaDigest& media, const Request& request);

// Both pieces for a local file: its digest (kept, for example, to tell a changed file) and the key.
struct KeyedFile {
  MediaDigest media;
  std::string key;
};
KeyedFile compute_file_key(const std::filesystem::path& path, const Request& request);

}  // namespace qorl_multimodal::batch::cache_key
