#include "qorl_multimodal/batch/manifest.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "qorl_core/errors.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::batch::manifest {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> sources(const std::vector<SourceEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& entry : entries) out.push_back(entry.source);
  return out;
}

std::string error_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const qorl_core::ValueError& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(BatchManifestTest, PlainListSkipsBlanksAndCommentsAndTrims) {
  std::istringstream input(
      "\xEF\xBB\xBF"
      "talk.wav\r\n"
      "\n"
      "   \t\r\n"
      "# a comment\n"
      "   # an indented comment\n"
      "  photos/cat 1.jpg  \r\n"
      "https://example.test/a.mp3#t=5\n"
      "last-without-newline.png");
  const auto entries = read_manifest("-", input);
  EXPECT_THAT(sources(entries),
              ElementsAre("talk.wav", "photos/cat 1.jpg", "https://example.test/a.mp3#t=5",
                          "last-without-newline.png"));
  EXPECT_EQ(entries[0].origin, "<stdin>:1");
  EXPECT_EQ(entries[1].origin, "<stdin>:6");
  EXPECT_FALSE(entries[0].id.has_value());
  EXPECT_TRUE(entries[0].options.empty());
}

TEST(BatchManifestTest, JsonLinesCarryIdAndOptionsAndMixWithPlainLines) {
  qorl_testing::TempDir dir;
  const auto path = dir.write("corpus.txt",
                              "{\"source\": \"a.wav\", \"id\": \"t-1\", \"language\": \"en\", "
                              "\"captions\": 3, \"extra\": {\"k\": [1, null]}}\n"
                              "plain.wav\n"
                              "  {\"id\": 17, \"source\": \"b.wav\"}\r\n"
                              "{\"source\": \"c.wav\", \"id\": null}\n");
  std::istringstream unused;
  ManifestReader reader(path.string(), unused);
  auto first = reader.next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->source, "a.wav");
  EXPECT_EQ(first->id, "t-1");
  EXPECT_EQ(first->options.keys(), (std::vector<std::string>{"language", "captions", "extra"}));
  EXPECT_EQ(first->options.at("language"), qorl_core::Value("en"));
  EXPECT_EQ(first->options.at("captions"), qorl_core::Value(3));
  EXPECT_EQ(first->options.at("extra"),
            qorl_core::Value(qorl_core::Map{{"k", qorl_core::List{1, qorl_core::None{}}}}));
  EXPECT_EQ(first->origin, path.string() + ":1");
  EXPECT_EQ(reader.next()->source, "plain.wav");
  auto third = reader.next();
  EXPECT_EQ(third->source, "b.wav");
  EXPECT_EQ(third->id, "17");
  EXPECT_FALSE(reader.next()->id.has_value());
  EXPECT_FALSE(reader.next().has_value());
  EXPECT_FALSE(reader.next().has_value());
}

TEST(BatchManifestTest, BadJsonLineNamesFileAndLineAndReadingGoesOn) {
  std::istringstream input(
      "ok.wav\n"
      "{\"source\": \"a.wav\"\n"
      "{\"id\": \"x\"}\n"
      "{\"source\": 5}\n"
      "{\"source\": \"  \"}\n"
      "{\"source\": \"a\", \"id\": 1.5}\n"
      "{\"source\": \"a\"} trailing\n"
      "{\"source\": \"fine.wav\"}\n");
  ManifestReader reader(input, "list.jsonl");
  EXPECT_EQ(reader.next()->source, "ok.wav");
  EXPECT_THAT(error_of([&] { reader.next(); }), HasSubstr("list.jsonl:2: not valid JSON"));
  EXPECT_EQ(error_of([&] { reader.next(); }), "list.jsonl:3: no \"source\" in the object");
  EXPECT_EQ(error_of([&] { reader.next(); }), "list.jsonl:4: \"source\" must be a non-empty text");
  EXPECT_EQ(error_of([&] { reader.next(); }), "list.jsonl:5: \"source\" must be a non-empty text");
  EXPECT_EQ(error_of([&] { reader.next(); }),
            "list.jsonl:6: \"id\" must be a text or a whole number");
  EXPECT_THAT(error_of([&] { reader.next(); }), HasSubstr("list.jsonl:7: not valid JSON"));
  EXPECT_EQ(reader.next()->source, "fine.wav");
}

TEST(BatchManifestTest, JsonNestingIsLimited) {
  const auto nested = [](int depth) {
    return "{\"source\": \"a\", \"o\": " + std::string(depth, '[') + std::string(depth, ']') + "}";
  };
  std::istringstream input(nested(10) + "\n" + nested(100000) + "\n");
  ManifestReader reader(input, "deep.jsonl");
  EXPECT_EQ(reader.next()->source, "a");
  EXPECT_EQ(error_of([&] { reader.next(); }), "deep.jsonl:2: JSON nested deeper than 64 levels");
}

TEST(BatchManifestTest, LongManifestIsReadOneEntryAtATime) {
  // A generated stream: the reader never asks for more than the line it is on.
  class Lines : public std::streambuf {
   public:
    explicit Lines(int count) : remaining_(count) {}
    int_type underflow() override {
      if (remaining_ == 0) return traits_type::eof();
      line_ = "{\"source\": \"clip-" + std::to_string(remaining_--) + ".wav\"}\n";
      setg(line_.data(), line_.data(), line_.data() + line_.size());
      return traits_type::to_int_type(line_[0]);
    }
    int remaining_;
    std::string line_;
  } lines(50000);
  std::istream input(&lines);
  ManifestReader reader(input, "generated");
  int count = 0;
  std::string last;
  while (auto entry = reader.next()) {
    ++count;
    last = entry->source;
    // Nothing read ahead beyond the current line.
    EXPECT_LE(lines.remaining_, 50000 - count);
    EXPECT_GE(lines.remaining_, 50000 - count - 1);
  }
  EXPECT_EQ(count, 50000);
  EXPECT_EQ(last, "clip-1.wav");
}

TEST(BatchManifestTest, MissingManifestIsASystemError) {
  std::istringstream unused;
  EXPECT_THROW(ManifestReader("/nonexistent/list.txt", unused), std::system_error);
}

class BatchWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"b.wav", "a.wav", "a.txt", "B.WAV", "sub/z.wav", "sub/deep/y.wav", "sub/deep/notes.md",
          ".git/objects/x.wav", "sub.wav", ".hidden.wav", "raw/one.wav", "raw/two/three.wav"}) {
      dir_.write(std::string("tree/") + name, name);
    }
    fs::create_directories(root() / "empty");
    // A link loop, a link out of the tree, a link to a file, a dangling link and a FIFO.
    fs::create_directory_symlink(root(), root() / "sub/loop");
    fs::create_directory_symlink(outside_.path(), root() / "outside");
    outside_.write("secret.wav", "x");
    fs::create_symlink(root() / "a.wav", root() / "link.wav");
    fs::create_symlink(root() / "gone.wav", root() / "dangling.wav");
    ASSERT_EQ(::mkfifo((root() / "pipe.wav").c_str(), 0600), 0);
  }

  fs::path root() const { return dir_.path() / "tree"; }
  std::vector<std::string> relative(const WalkFilter& filter) const {
    std::vector<std::string> out;
    for (const auto& entry : walk(root(), filter)) {
      out.push_back(fs::path(entry.source).lexically_relative(root()).generic_string());
    }
    return out;
  }

  qorl_testing::TempDir dir_;
  qorl_testing::TempDir outside_;
};

TEST_F(BatchWalkTest, TakesRegularFilesInByteOrderWithoutFollowingFolderLinks) {
  EXPECT_THAT(relative({}),
              ElementsAre(".git/objects/x.wav", ".hidden.wav", "B.WAV", "a.txt", "a.wav", "b.wav",
                          "link.wav", "raw/one.wav", "raw/two/three.wav", "sub/deep/notes.md",
                          "sub/deep/y.wav", "sub/z.wav", "sub.wav"));
  const auto entries = walk(root(), {});
  EXPECT_EQ(entries[0].source, (root() / ".git/objects/x.wav").string());
  EXPECT_EQ(entries[0].origin, entries[0].source);
  // Two walks agree.
  EXPECT_EQ(relative({}), relative({}));
}

TEST_F(BatchWalkTest, GlobsMatchBaseNamesOrRelativePaths) {
  EXPECT_THAT(relative({.include = {"*.wav"}, .exclude = {".*"}}),
              ElementsAre("a.wav", "b.wav", "link.wav", "raw/one.wav", "raw/two/three.wav",
                          "sub/deep/y.wav", "sub/z.wav", "sub.wav"));
  // A slash makes the pattern apply to the relative path, where * crosses folders.
  EXPECT_THAT(relative({.include = {"raw/*"}}), ElementsAre("raw/one.wav", "raw/two/three.wav"));
  EXPECT_THAT(relative({.include = {"*.wav", "*.md"}, .exclude = {"sub/deep", ".git", "raw"}}),
              ElementsAre(".hidden.wav", "a.wav", "b.wav", "link.wav", "sub/z.wav", "sub.wav"));
  // Case matters, as fnmatch has it.
  EXPECT_THAT(relative({.include = {"*.WAV"}}), ElementsAre("B.WAV"));
  EXPECT_THAT(relative({.include = {"*.flac"}}), ElementsAre());
}

TEST_F(BatchWalkTest, RefusesMissingRootOrAFileAndLooksAtEachEntryWhenReached) {
  EXPECT_THROW(walk(root() / "missing", {}), qorl_core::FileNotFoundError);
  EXPECT_THROW(walk(root() / "a.wav", {}), qorl_core::ValueError);
  FolderWalk folder_walk(root(), {});
  ASSERT_TRUE(folder_walk.next());
  fs::remove_all(root() / "raw");
  fs::create_symlink(outside_.path(), root() / "raw");  // now a link: not followed
  int count = 1;
  while (folder_walk.next()) ++count;
  EXPECT_EQ(count, 11);
}

}  // namespace
}  // namespace qorl_multimodal::batch::manifest
