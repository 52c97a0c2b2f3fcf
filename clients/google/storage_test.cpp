#include "clients/google/storage.hpp"

#include <gtest/gtest.h>

#include "clients/common/run_sync.hpp"
#include "testing/fake_storage.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/scoped_call_policy.hpp"
#include "testing/scoped_env.hpp"

namespace clients::google {
namespace {

using common::run_sync;
using qorl_testing::Fault;

class StorageClientTest : public ::testing::Test {
 protected:
  StorageClientTest() { storage_.add_bucket("qorl-audio"); }

  StorageClient client(bool with_credentials = true) const {
    StorageOptions options;
    if (with_credentials) {
      options.credentials =
          std::make_shared<ServiceAccountCredentials>(ServiceAccountCredentials::from_json(
              google_.account().key_json(), {std::string(CLOUD_PLATFORM_SCOPE)}));
    }
    return StorageClient(std::move(options));
  }

  qorl_testing::ScopedCallPolicy policy_;
  qorl_testing::FakeGoogle google_;
  qorl_testing::FakeStorage storage_{google_};
  qorl_testing::ScopedEnv env_;
};

TEST_F(StorageClientTest, UploadsAndDeletesObjectsAtTheEmulatorHost) {
  // An emulator address without a scheme, as STORAGE_EMULATOR_HOST is often given.
  env_.set("STORAGE_EMULATOR_HOST", storage_.endpoint().substr(7))
      .set("CLOUD_STORAGE_EMULATOR_ENDPOINT", "http://127.0.0.1:1");
  const StorageClient storage = client();
  const std::string name = "audio-files/a b+c.flac";
  const ObjectMetadata object =
      run_sync(storage.insert_object("qorl-audio", name, std::string("fLaC\0data", 9)));
  EXPECT_EQ(object.bucket, "qorl-audio");
  EXPECT_EQ(object.name, name);
  EXPECT_EQ(object.size, 9u);
  EXPECT_EQ(storage_.object("qorl-audio", name), std::string("fLaC\0data", 9));
  ASSERT_EQ(storage_.uploads().size(), 1u);
  EXPECT_EQ(storage_.uploads()[0].content_type, "application/octet-stream");

  run_sync(storage.delete_object("qorl-audio", name));
  EXPECT_TRUE(storage_.object_names("qorl-audio").empty());
  EXPECT_EQ(storage_.deletions(), std::vector<std::string>{"qorl-audio/" + name});
  try {
    run_sync(storage.delete_object("qorl-audio", name));
    FAIL();
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 404);
    EXPECT_STREQ(e.what(),
                 ("404 DELETE " + storage_.endpoint() +
                  "/storage/v1/b/qorl-audio/o/audio-files%2Fa%20b%2Bc.flac: No such object: "
                  "qorl-audio/audio-files/a b+c.flac")
                     .c_str());
  }
}

TEST_F(StorageClientTest, RefusalsAreHttpErrors) {
  env_.unset("STORAGE_EMULATOR_HOST").set("CLOUD_STORAGE_EMULATOR_ENDPOINT", storage_.endpoint());
  try {
    run_sync(client().insert_object("absent-bucket", "x.flac", "data"));
    FAIL();
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 404);
    EXPECT_STREQ(e.what(),
                 ("404 POST " + storage_.endpoint() +
                  "/upload/storage/v1/b/absent-bucket/o: The specified bucket does not exist.")
                     .c_str());
  }
  try {
    run_sync(client(/*with_credentials=*/false).insert_object("qorl-audio", "x.flac", "data"));
    FAIL();
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 401);
  }
  run_sync(client().insert_object("qorl-audio", "x.flac", "data"));
  storage_.fail_next_delete(403);
  EXPECT_THROW(run_sync(client().delete_object("qorl-audio", "x.flac")), HttpError);
  EXPECT_EQ(storage_.object_names("qorl-audio"), std::vector<std::string>{"x.flac"});
}

TEST_F(StorageClientTest, FailedExchangesAreRetriedAndALostDeleteAnswerIsNoError) {
  qorl_testing::FaultProxy proxy(storage_.endpoint());
  env_.set("STORAGE_EMULATOR_HOST", proxy.url());
  const StorageClient storage = client();
  proxy.inject(Fault::reset(), "/upload/");
  proxy.inject(Fault::answer(503), "/upload/");
  proxy.inject(Fault::answer(429, {{"Retry-After", "2"}}), "/upload/");
  EXPECT_EQ(run_sync(storage.insert_object("qorl-audio", "x.flac", "data")).size, 4u);
  EXPECT_EQ(proxy.requests("/upload/"), 4);
  EXPECT_EQ(storage_.uploads().size(), 1u);

  // The first answer is lost, the repeat finds the object gone: deleted either way.
  proxy.inject(Fault::answer(503), "/storage/v1/");
  run_sync(storage.delete_object("qorl-audio", "x.flac"));
  proxy.inject(Fault::answer(504), "/storage/v1/");
  run_sync(storage.delete_object("qorl-audio", "x.flac"));
  EXPECT_TRUE(storage_.object_names("qorl-audio").empty());
  // Without a repeat, a 404 is still the caller's to know.
  EXPECT_THROW(run_sync(storage.delete_object("qorl-audio", "x.flac")), HttpError);

  proxy.inject(Fault::answer(503), "/upload/", 4);
  EXPECT_THROW(run_sync(storage.insert_object("qorl-audio", "y.flac", "data")), HttpError);
  EXPECT_EQ(proxy.requests("/upload/"), 8);
}

}  // namespace
}  // namespace clients::google
