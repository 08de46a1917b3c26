#pragma once

#include <gtest/gtest.h>

#include <string>

namespace vp {

// A test with a private folder of its own, made before the test and removed with all it holds
// after it.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the bytes to a new file in the folder, named by a running number and the extension;
  // returns its path.
  std::string Write(const std::string& bytes, const std::string& extension = "");

  std::string dir_;  // ends in '/'
  int files_ = 0;
};

}  // namespace vp
