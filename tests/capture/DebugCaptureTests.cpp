// The debug capture's files and the payload its line carries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Platform/Image.h"
#include "ZobaCapture/DebugCapture.h"
#include "tests/support/Files.h"

namespace zoba {
namespace {

namespace fs = std::filesystem;

class DebugCaptureFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = fs::temp_directory_path() / ("zoba-debug-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    path = (directory / "x.png").string();
  }
  void TearDown() override { fs::remove_all(directory); }

  fs::path directory;
  std::string path;
};

TEST_F(DebugCaptureFiles, ImageBytesAndTextAreWrittenAndTheLineShortened) {
  const platform::Bytes png(123456, 0x89);
  std::string text;
  for (int i = 0; i < 4000; ++i) text += i % 2 ? "e\u0301" : "x";  // 4000 characters, 6000 bytes
  Message payload = {
      {"image",
       {{"mimeType", "image/png"}, {"width", 2}, {"height", 3}, {"base64", platform::base64Encode(png)}}},
      {"text", text}};

  EXPECT_EQ(DebugCapture::writeFiles(payload, path), std::nullopt);
  EXPECT_EQ(zoba::testing::fileContents(path), std::string(png.begin(), png.end()));
  EXPECT_EQ(zoba::testing::fileContents(path + ".txt"), text);
  EXPECT_EQ(payload["image"]["base64"], "123456 bytes written to " + path);
  EXPECT_EQ(payload["image"]["width"], 2);
  EXPECT_EQ(payload["textLength"], 4000);
  EXPECT_EQ(payload["text"], text.substr(0, 750 + 750 * 3));  // 1500 characters
  // Nothing but the two files: the text's temporary file is gone.
  EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 2);
}

TEST_F(DebugCaptureFiles, UndecodableImageWritesNothingAndKeepsTheEntry) {
  for (const Message& image :
       {Message{{"base64", "not base64!"}}, Message{{"base64", 5}}, Message{{"width", 1}}}) {
    Message payload = {{"image", image}};
    EXPECT_EQ(DebugCapture::writeFiles(payload, path), std::nullopt);
    EXPECT_EQ(payload, (Message{{"image", image}}));
    EXPECT_FALSE(fs::exists(path));
  }
}

TEST_F(DebugCaptureFiles, WriteErrorsAreReportedAndEarlierFilesStay) {
  const std::string missing = (directory / "no-such-dir" / "x.png").string();
  Message payload = {{"image", {{"base64", "AAAA"}}}, {"text", "t"}};
  auto error = DebugCapture::writeFiles(payload, missing);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("Could not write " + missing), std::string::npos) << *error;

  // The image lands; the text's path is a directory, so its write fails.
  fs::create_directory(path + ".txt");
  payload = {{"image", {{"base64", "AAAA"}}}, {"text", "t"}};
  error = DebugCapture::writeFiles(payload, path);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find(path + ".txt"), std::string::npos) << *error;
  EXPECT_EQ(fs::file_size(path), 3u);
}

}  // namespace
}  // namespace zoba
