#include "config/preferences.h"

#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vp {

namespace {

// A folder of this process's own: tests in other processes run beside it.
const std::string kDir = ::testing::TempDir() + "vp_preferences_" + std::to_string(getpid());
const std::string kManaged = kDir + "/managed.plist";
const std::string kLocal = kDir + "/local.plist";

// Writes a property list as macOS would keep it, in XML or in binary form.
void WritePlist(const std::string& path, plist_t root, bool binary) {
  char* bytes = nullptr;
  uint32_t length = 0;
  binary ? plist_to_bin(root, &bytes, &length) : plist_to_xml(root, &bytes, &length);
  std::ofstream(path, std::ios::binary).write(bytes, length);
  free(bytes);
  plist_free(root);
}

plist_t Dict(const char* key, plist_t value) {
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, key, value);
  return dict;
}

void Days(const std::string& path, int days, bool binary = false) {
  WritePlist(path, Dict("CleanDays", plist_new_uint(days)), binary);
}

class Preferences : public testing::Test {
 protected:
  void SetUp() override {
    oldPath_ = getenv("PATH");
    setenv("PATH", (VP_BINARY_DIR "/tools/plutil:" + oldPath_).c_str(), 1);
    std::system(("rm -rf '" + kDir + "' && mkdir -p '" + kDir + "'").c_str());
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    std::system(("rm -rf '" + kDir + "'").c_str());
  }
  std::string oldPath_;
};

TEST_F(Preferences, ManagedWinsAndABrokenFileNeverGivesWay) {
  struct Case {
    const char* name;
    std::function<void()> lay;
    std::string file, value, problem;
  } cases[] = {
      {"neither file", [] {}, "", "", ""},
      {"the local file", [] { Days(kLocal, 30); }, kLocal, "30", ""},
      {"managed over local",
       [] {
         Days(kManaged, 7, true);
         Days(kLocal, 30);
       },
       kManaged, "7", ""},
      {"managed without the key",
       [] {
         WritePlist(kManaged, Dict("Other", plist_new_uint(1)), false);
         Days(kLocal, 30, true);
       },
       kLocal, "30", ""},
      {"only nested",
       [] { WritePlist(kLocal, Dict("Nested", Dict("CleanDays", plist_new_uint(3))), false); }, "",
       "", ""},
      {"a string", [] { WritePlist(kLocal, Dict("CleanDays", plist_new_string("30")), false); },
       kLocal, "\"30\"", ""},
      {"not a property list",
       [] {
         std::ofstream(kManaged) << "CleanDays=30\n";
         Days(kLocal, 30);
       },
       "", "", kManaged + ": not a property list plutil can read"},
      {"a link",
       [] {
         Days(kLocal, 30);
         symlink(kLocal.c_str(), kManaged.c_str());
       },
       "", "", kManaged + ": a symbolic link, not followed"},
      {"a FIFO", [] { mkfifo(kManaged.c_str(), 0644); }, "", "", kManaged + ": not a plain file"},
      {"too large", [] { std::ofstream(kLocal) << std::string(64 * 1024 + 1, ' '); }, "", "",
       kLocal + ": larger than 65536 bytes"},
  };
  for (const Case& c : cases) {
    unlink(kManaged.c_str());
    unlink(kLocal.c_str());
    c.lay();
    PreferenceValue got = ReadPreference({kManaged, kLocal}, "CleanDays");
    EXPECT_EQ(got.file, c.file) << c.name;
    EXPECT_EQ(got.value, c.value) << c.name;
    EXPECT_EQ(got.problem, c.problem) << c.name;
  }
}

}  // namespace

}  // namespace vp
