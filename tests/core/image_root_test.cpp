// Whether a resolved folder lies within the resolved image root. Placing
// real prefixes is tested through the INI and the prefix command.
#include "core/image_root.h"

#include <gtest/gtest.h>

namespace {

TEST(ImageRootTest, FolderLiesWithinComparesWholeNames) {
  const struct {
    const char* folder;
    const char* root;
    char separator;
    bool ignoreCase;
    bool within;
  } cases[] = {
      {"/data/root", "/data/root", '/', false, true},
      {"/data/root/a/b", "/data/root", '/', false, true},
      {"/data/root2", "/data/root", '/', false, false},
      {"/data/root2/a", "/data/root", '/', false, false},
      {"/data", "/data/root", '/', false, false},
      {"/data/Root/a", "/data/root", '/', false, false},
      {"/anything", "/", '/', false, true},
      {"/data/root", "", '/', false, false},
      {"C:\\Data\\Root\\x", "c:\\data\\root", '\\', true, true},
      {"C:\\Data\\Rooty", "c:\\data\\root", '\\', true, false},
      {"D:\\x", "D:\\", '\\', true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.within, folderLiesWithin(c.folder, c.root, c.separator, c.ignoreCase))
        << c.folder << " in " << c.root;
  }
}

}  // namespace
