#include "qorl_multimodal/batch/cache_key.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <system_error>

#include "qorl_core/errors.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::batch::cache_key {
namespace {

using qorl_core::Options;

Request caption_request() {
  return {.subcommand = "caption",
          .backend = "",
          .model = "google/gemini-2.5-flash",
          .options = Options{{"number_of_captions", 5}, {"language", "Indonesian"}}};
}

TEST(BatchCacheKeyTest, KeyIsHexSha256AndStable) {
  const std::string key = compute_key(digest_bytes("image bytes"), caption_request());
  EXPECT_EQ(key.size(), 64u);
  EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(compute_key(digest_bytes("image bytes"), caption_request()), key);
  EXPECT_EQ(digest_bytes("abc").digest,
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digest_bytes("abc").size, 3u);
}

TEST(BatchCacheKeyTest, EverythingThatChangesTheAnswerChangesTheKey) {
  const auto media = digest_bytes("image bytes");
  const Request base = caption_request();
  std::vector<Request> variants(7, base);
  variants[0].options.set("language", "English");
  variants[1].options.set("number_of_captions", 3);
  variants[2].options.set("domain_knowledge", "radiology");
  variants[3].model = "google/gemini-2.5-pro";
  variants[4].prompt_version = PROMPT_VERSION + 1;
  variants[5].subcommand = "video";
  variants[6].backend = "gemini";
  std::set<std::string> keys{compute_key(media, base), compute_key(digest_bytes("other"), base),
                             compute_key(youtube_video("dQw4w9WgXcQ"), base)};
  for (const Request& variant : variants) keys.insert(compute_key(media, variant));
  EXPECT_EQ(keys.size(), variants.size() + 3);
}

TEST(BatchCacheKeyTest, FieldsAreFramedSoBoundariesCannotShift) {
  const auto media = digest_bytes("x");
  Request ab_c = caption_request();
  ab_c.subcommand = "ab";
  ab_c.backend = "c";
  Request a_bc = caption_request();
  a_bc.subcommand = "a";
  a_bc.backend = "bc";
  EXPECT_NE(compute_key(media, ab_c), compute_key(media, a_bc));
  // A video id equal to a byte digest is still other media.
  const auto digest = digest_bytes("x");
  EXPECT_NE(compute_key(digest, ab_c), compute_key(youtube_video(digest.digest), ab_c));
}

TEST(BatchCacheKeyTest, OptionsAreCanonical) {
  const Options one{{"b", 1}, {"a", Options{{"y", "2"}, {"x", qorl_core::List{1.5, true}}}}};
  const Options two{{"a", Options{{"x", qorl_core::List{1.5, true}}, {"y", "2"}}}, {"b", 1}};
  EXPECT_EQ(canonical_options(one), R"({"a":{"x":[1.5,true],"y":"2"},"b":1})");
  EXPECT_EQ(canonical_options(two), canonical_options(one));
  Request first = caption_request();
  first.options = one;
  Request second = caption_request();
  second.options = two;
  EXPECT_EQ(compute_key(digest_bytes("m"), first), compute_key(digest_bytes("m"), second));
  // Kinds stay apart: text "1" is not the number 1, and None is not an absent option.
  EXPECT_NE(canonical_options({{"b", "1"}}), canonical_options({{"b", 1}}));
  EXPECT_NE(canonical_options({{"b", qorl_core::None{}}}), canonical_options({}));
  EXPECT_THROW(canonical_options({{"b", qorl_core::Bytes("raw")}}), qorl_core::TypeError);
  EXPECT_THROW(canonical_options({{"b", std::string("\xff")}}), qorl_core::ValueError);
}

TEST(BatchCacheKeyTest, FileDigestStreamsAndIgnoresTheName) {
  qorl_testing::TempDir dir;
  // Larger than one read block, so several blocks are hashed.
  std::string content(300'000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 % 251);
  const auto first = dir.write("talk.wav", content);
  const auto copy = dir.write("renamed/other-name.wav", content);
  const KeyedFile keyed = compute_file_key(first, caption_request());
  EXPECT_EQ(keyed.media, digest_bytes(content));
  EXPECT_EQ(keyed.media.size, content.size());
  EXPECT_EQ(keyed.key, compute_key(digest_bytes(content), caption_request()));
  EXPECT_EQ(compute_file_key(copy, caption_request()).key, keyed.key);
  EXPECT_EQ(digest_file(dir.write("empty", "")), digest_bytes(""));

  EXPECT_THROW(digest_file(dir.path() / "missing.wav"), std::system_error);
  EXPECT_THROW(digest_file(dir.path()), qorl_core::ValueError);
  ASSERT_EQ(::mkfifo((dir.path() / "pipe").c_str(), 0600), 0);
  EXPECT_THROW(digest_file(dir.path() / "pipe"), qorl_core::ValueError);
}

TEST(BatchCacheKeyTest, YouTubeVideoIdMustNotBeEmpty) {
  EXPECT_EQ(youtube_video("dQw4w9WgXcQ"), (MediaDigest{"youtube", "dQw4w9WgXcQ", 0}));
  EXPECT_THROW(youtube_video(""), qorl_core::ValueError);
}

}  // namespace
}  // namespace qorl_multimodal::batch::cache_key
