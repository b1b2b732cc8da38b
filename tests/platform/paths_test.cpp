// Resolving a folder path: links followed, missing names appended, and the
// paths that could lead anywhere refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/paths.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Every path below one test folder; expected below it too, resolved;
// nullptr: refused.
TEST(ResolveFolderTest, FoldersResolveWithLinksFollowedAndRiskyPathsRefused) {
  const testing_support::TempDir dir;
  fs::create_directories(dir.path() / "root" / "sub");
  fs::create_directories(dir.path() / "elsewhere");
  dir.write("root/file.txt", "x");
  // Windows grants symbolic links only with a privilege: tested where it can.
  std::error_code noLinks;
  fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "root/out", noLinks);
  fs::create_directory_symlink(dir.path() / "gone", dir.path() / "root/dangling", noLinks);
  const fs::path base = fs::canonical(dir.path());
  // Windows takes ".." out as text before any open, as every later open
  // will; POSIX cannot without the links of the missing names.
  const bool dotDotIsText = platform::isPathSeparator('\\');
  const struct {
    const char* path;
    const char* expected;
    bool exists;
  } cases[] = {
      {"root", "root", true},
      {"root/sub/../sub/./", "root/sub", true},
      {"root/new/./deeper//", "root/new/deeper", false},
      {"root/new/../../x", dotDotIsText ? "x" : nullptr, false},
      {"root/file.txt", nullptr, false},
      {"root/file.txt/x", nullptr, false},
      {noLinks ? "root" : "root/out/new", noLinks ? "root" : "elsewhere/new", !!noLinks},
      {noLinks ? "root/file.txt" : "root/dangling/new", nullptr, false},
  };
  for (const auto& c : cases) {
    std::string resolved = "stale";
    bool exists = !c.exists;
    const bool ok = platform::resolveFolder((dir.path() / c.path).string(), &resolved, &exists);
    EXPECT_EQ(c.expected != nullptr, ok) << c.path;
    EXPECT_EQ(c.expected ? (base / fs::path(c.expected).make_preferred()).string() : "", resolved)
        << c.path;
    if (ok) {
      EXPECT_EQ(c.exists, exists) << c.path;
    }
  }
}

TEST(ResolveFolderTest, RelativePathsResolveAgainstTheWorkingFolder) {
  const fs::path working = fs::canonical(fs::current_path());
  std::string resolved;
  bool exists = false;
  ASSERT_TRUE(platform::resolveFolder("no-such-folder-here", &resolved, &exists));
  EXPECT_EQ((working / "no-such-folder-here").string(), resolved);
  EXPECT_FALSE(exists);
}

}  // namespace
