#include "qorl_inference/attachment.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "qorl_inference/media_type.hpp"
#include "qorl_inference/message.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_inference {
namespace {

// Headers are all libmagic reads.
const std::string kPng("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0", 29);
const std::string kJpeg("\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
const std::string kWav(
    "RIFF\x24\0\0\0WAVEfmt "
    "\x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x10\0data\0\0\0\0",
    44);

TEST(AttachmentTest, FromBytesDerivesTypeAndExtensionFromContent) {
  auto png = Attachment::from_bytes(qorl_core::Bytes(kPng));
  EXPECT_EQ(png->mime_type, "image/png");
  EXPECT_EQ(png->extension, "png");
  EXPECT_EQ(png->filename, "");
  EXPECT_EQ(png->data.str(), kPng);
  EXPECT_FALSE(png->is_url());

  // The content decides, not the name.
  auto jpeg = Attachment::from_bytes(qorl_core::Bytes(kJpeg), "photo.png");
  EXPECT_EQ(jpeg->mime_type, "image/jpeg");
  EXPECT_EQ(jpeg->extension, "jpg");
  EXPECT_EQ(jpeg->filename, "photo.png");

  auto wav = Attachment::from_bytes(qorl_core::Bytes(kWav));
  EXPECT_EQ(wav->mime_type, "audio/x-wav");
  EXPECT_EQ(wav->extension, "wav");

  // Unknown content keeps the name's extension.
  auto text = Attachment::from_bytes(qorl_core::Bytes(std::string("plain words\n")), "notes.md");
  EXPECT_EQ(text->mime_type, "text/plain");
  EXPECT_EQ(text->extension, "txt");
  auto empty = Attachment::from_bytes(qorl_core::Bytes(), "blob.bin");
  EXPECT_EQ(empty->extension, "bin");
}

TEST(AttachmentTest, SniffingIsSafeFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 50; ++i) {
        const bool png = i % 2 == 0;
        if (sniff_mime_type(png ? kPng : kJpeg) != (png ? "image/png" : "image/jpeg")) ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

TEST(AttachmentTest, FromPathReadsTheFile) {
  qorl_testing::TempDir dir;
  const auto path = dir.write("clip.png", kPng);
  auto attachment = Attachment::from_path(path);
  EXPECT_EQ(attachment->data.str(), kPng);
  EXPECT_EQ(attachment->filename, "clip.png");
  EXPECT_EQ(attachment->mime_type, "image/png");

  EXPECT_THROW(Attachment::from_path(dir.path() / "missing.png"), qorl_core::FileNotFoundError);
  EXPECT_THROW(Attachment::from_path(dir.path()), qorl_core::FileNotFoundError);
}

TEST(AttachmentTest, FromUrlRefersWithoutFetching) {
  auto youtube = Attachment::from_url("https://youtu.be/dQw4w9WgXcQ");
  EXPECT_TRUE(youtube->is_url());
  EXPECT_EQ(youtube->url, "https://youtu.be/dQw4w9WgXcQ");
  EXPECT_TRUE(youtube->data.empty());
  EXPECT_EQ(youtube->mime_type, "");

  auto clip = Attachment::from_url("http://127.0.0.1:9/media/Clip.MP4?sig=x");
  EXPECT_EQ(clip->filename, "Clip.MP4");
  EXPECT_EQ(clip->extension, "MP4");
  EXPECT_EQ(clip->mime_type, "video/mp4");

  EXPECT_THROW(Attachment::from_url("not a url"), qorl_core::ValueError);
  EXPECT_THROW(Attachment::from_url("ftp://host/file.mp4"), qorl_core::ValueError);
  EXPECT_THROW(Attachment::from_url("/local/file.mp4"), qorl_core::ValueError);
}

TEST(AttachmentTest, TravelsInsideValuesAndConvertsToAMap) {
  auto attachment = Attachment::from_bytes(qorl_core::Bytes(kPng), "a.png");
  qorl_core::Value value(attachment);
  EXPECT_EQ(value.object_as<Attachment>(), attachment);
  EXPECT_EQ(value.type_name(), "Attachment");
  const auto map = attachment->to_map();
  EXPECT_EQ(map.keys(),
            (std::vector<std::string>{"data", "filename", "mime_type", "extension", "url"}));
  EXPECT_EQ(map.at("filename"), qorl_core::Value("a.png"));
}

TEST(MessageTest, KeepsPartsInOrder) {
  auto attachment = Attachment::from_bytes(qorl_core::Bytes(kPng));
  auto message = Message::user({attachment, std::string("describe it")});
  EXPECT_EQ(message.role, Role::USER);
  ASSERT_EQ(message.contents.size(), 2u);
  EXPECT_EQ(std::get<std::shared_ptr<Attachment>>(message.contents[0]), attachment);
  EXPECT_EQ(std::get<std::string>(message.contents[1]), "describe it");

  auto system = Message::system("be brief");
  EXPECT_EQ(system.role, Role::SYSTEM);
  EXPECT_THROW(Message::user({std::shared_ptr<Attachment>()}), qorl_core::ValueError);
}

}  // namespace
}  // namespace qorl_inference
