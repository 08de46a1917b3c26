#include <plist/plist.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace vp {

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

class PlutilStandIn : public ScratchDirTest {
 protected:
  std::string write(const std::string& name, plist_t root, bool binary) {
    char* bytes = nullptr;
    uint32_t length = 0;
    if (binary) {
      plist_to_bin(root, &bytes, &length);
    } else {
      plist_to_xml(root, &bytes, &length);
    }
    std::ofstream(dir_ + name, std::ios::binary).write(bytes, length);
    free(bytes);
    return dir_ + name;
  }

  Outcome run(const std::string& arguments) {
    std::string command =
        VP_BINARY_DIR "/tools/plutil/plutil " + arguments + " 2>'" + dir_ + "err'";
    Outcome result;
    FILE* pipe = popen(command.c_str(), "r");
    char block[4096];
    size_t n = 0;
    while ((n = fread(block, 1, sizeof block, pipe)) > 0)
      result.out.append(block, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadFile(dir_ + "err");
    return result;
  }
};

plist_t sampleSettings() {
  plist_t arr = plist_new_array();
  plist_array_append_item(arr, plist_new_string("a"));
  plist_array_append_item(arr, plist_new_uint(2));
  plist_t inner = plist_new_array();
  plist_array_append_item(inner, plist_new_bool(0));
  plist_array_append_item(arr, inner);
  plist_t nested = plist_new_dict();
  plist_dict_set_item(nested, "k", plist_new_string("v"));
  plist_dict_set_item(nested, "Empty", plist_new_dict());
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "When", plist_new_date(1000000000, 0));
  plist_dict_set_item(root, "Blob", plist_new_data("\x00\x01\xab\xff", 4));
  plist_dict_set_item(root, "Nested", nested);
  plist_dict_set_item(root, "flag", plist_new_bool(1));
  plist_dict_set_item(root, "Arr", arr);
  plist_dict_set_item(root, "Real", plist_new_real(2.5));
  plist_dict_set_item(root, "Negative", plist_new_uint(static_cast<uint64_t>(-3)));
  plist_dict_set_item(root, "Text", plist_new_string("two words \"quoted\""));
  plist_dict_set_item(root, "None", plist_new_array());
  return root;
}

const char kSampleListing[] =
    "{\n"
    "  \"Arr\" => [\n"
    "    0 => \"a\"\n"
    "    1 => 2\n"
    "    2 => [\n"
    "      0 => false\n"
    "    ]\n"
    "  ]\n"
    "  \"Blob\" => {length = 4, bytes = 0x0001abff}\n"
    "  \"flag\" => true\n"
    "  \"Negative\" => -3\n"
    "  \"Nested\" => {\n"
    "    \"Empty\" => {\n"
    "    }\n"
    "    \"k\" => \"v\"\n"
    "  }\n"
    "  \"None\" => [\n"
    "  ]\n"
    "  \"Real\" => 2.5\n"
    "  \"Text\" => \"two words \"quoted\"\"\n"
    "  \"When\" => 2032-09-09 01:46:40 +0000\n"
    "}\n";

TEST_F(PlutilStandIn, PrintsTheLayoutOfXmlAndBinaryLists) {
  for (bool binary : {false, true}) {
    plist_t root = sampleSettings();
    std::string path = write(binary ? "sample.bin" : "sample.xml", root, binary);
    plist_free(root);
    Outcome result = run("-p '" + path + "'");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, kSampleListing) << (binary ? "binary" : "XML");
  }
}

TEST_F(PlutilStandIn, PrintsTopLevelValuesThatAreNotDictionaries) {
  struct Case {
    plist_t root;
    const char* expected;
  } cases[] = {
      {plist_new_string("just text"), "\"just text\"\n"},
      {plist_new_array(), "[\n]\n"},
      {plist_new_dict(), "{\n}\n"},
  };
  for (const Case& c : cases) {
    std::string path = write("top.bin", c.root, true);
    plist_free(c.root);
    EXPECT_EQ(run("-p '" + path + "'").out, c.expected);
  }
}

TEST_F(PlutilStandIn, FailsWithAMessageAndNoOutput) {
  std::ofstream(dir_ + "garbage") << "{ \"not\": \"a plist\" }";
  std::ofstream(dir_ + "empty");
  std::ofstream(dir_ + "truncated") << "bplist00\x01";
  const std::string garbage = dir_ + "garbage";
  const std::string arguments[] = {
      "-p " + dir_ + "missing",
      "-p " + garbage,
      "-p " + dir_ + "empty",
      "-p " + dir_ + "truncated",
      "-p " + dir_,
      "",
      "-p",
      "-x " + garbage,
      garbage,
      "-p " + garbage + " " + garbage,
  };
  for (const std::string& argument : arguments) {
    Outcome result = run(argument);
    EXPECT_NE(result.status, 0) << argument;
    EXPECT_EQ(result.out, "") << argument;
    EXPECT_NE(result.err, "") << argument;
  }
}

}  // namespace

}  // namespace vp
