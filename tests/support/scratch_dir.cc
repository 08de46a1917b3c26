#include "tests/support/scratch_dir.h"

#include <stdlib.h>

#include <filesystem>

#include "tests/support/files.h"

namespace vp {

void ScratchDirTest::SetUp() {
  std::string pattern = ::testing::TempDir() + "vp_scratch_XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern + "/";
}

void ScratchDirTest::TearDown() {
  if (!dir_.empty())
    std::filesystem::remove_all(dir_);
}

std::string ScratchDirTest::Write(const std::string& bytes, const std::string& extension) {
  const std::string path = dir_ + std::to_string(files_++) + extension;
  EXPECT_TRUE(WriteFile(path, bytes)) << path;
  return path;
}

}  // namespace vp
