// Application icons found by name in the hicolor theme and pixmaps/.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Platform/linux/session/IconFiles.h"

namespace zoba::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

class IconFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("zoba-icons-" + std::to_string(::getpid()));
    fs::create_directories(root);
  }
  void TearDown() override { fs::remove_all(root); }

  // An icon file under data dir `dir` at `relative` path; a real PNG of `side` pixels.
  fs::path add(const std::string& dir, const std::string& relative, int side = 2) {
    const fs::path path = root / dir / relative;
    fs::create_directories(path.parent_path());
    auto png = encodePNG(Image::fromWords(side, side, Image::Format::premultiplied,
                                          std::vector<std::uint32_t>(side * side, 0xFF336699u)));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png->data()), png->size());
    return path;
  }
  std::vector<std::string> dirs(std::initializer_list<const char*> names) {
    std::vector<std::string> out;
    for (const char* name : names) out.push_back((root / name).string());
    return out;
  }

  fs::path root;
};

TEST_F(IconFilesTest, TheSmallestAtLeastTheSizeElseTheLargest) {
  add("share", "icons/hicolor/32x32/apps/app.png");
  add("share", "icons/hicolor/256x256/apps/app.png");
  const auto best = add("share", "icons/hicolor/128x128/apps/app.png");
  add("share", "icons/hicolor/scalable/apps/app.png");  // not a size: skipped
  add("share", "icons/hicolor/48x48/apps/other.png");
  EXPECT_EQ(iconFile("app", 64, dirs({"share"})), best.string());
  EXPECT_EQ(iconFile("app", 32, dirs({"share"})), (root / "share/icons/hicolor/32x32/apps/app.png").string());
  EXPECT_EQ(iconFile("app", 512, dirs({"share"})),
            (root / "share/icons/hicolor/256x256/apps/app.png").string());
  // Sizes are compared across data dirs.
  const auto local = add("local", "icons/hicolor/64x64/apps/app.png");
  EXPECT_EQ(iconFile("app", 64, dirs({"local", "share"})), local.string());
}

TEST_F(IconFilesTest, PixmapsPathsAndWhatIsNotFound) {
  const auto pixmap = add("share", "pixmaps/old.png");
  EXPECT_EQ(iconFile("old", 64, dirs({"share"})), pixmap.string());
  EXPECT_EQ(iconFile(pixmap.string(), 64, {}), pixmap.string()) << "an absolute path";
  EXPECT_FALSE(iconFile("missing", 64, dirs({"share"})));
  EXPECT_FALSE(iconFile("", 64, dirs({"share"})));
  EXPECT_FALSE(iconFile("../share/pixmaps/old", 64, dirs({"share"}))) << "a name is no path";
  add("share", "icons/hicolor/48x48/apps/drawn.svg");
  EXPECT_FALSE(iconFile("drawn", 64, dirs({"share"}))) << "SVG is not read";
}

TEST_F(IconFilesTest, LoadedIconIsTheDecodedPng) {
  add("share", "icons/hicolor/48x48/apps/app.png", 48);
  auto image = loadIcon("app", 64, dirs({"share"}));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 48);
  EXPECT_EQ(image->pixel(0, 0), 0xFF336699u);
  // A file that is no PNG.
  const fs::path broken = root / "share/pixmaps/broken.png";
  std::ofstream(broken) << "not a png";
  EXPECT_FALSE(loadIcon("broken", 64, dirs({"share"})));
}

}  // namespace
}  // namespace zoba::platform::linux_backend
