#include "util/shell_quote.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace vp {

namespace {

// What the shell makes of the quoted text: every byte must come back literally.
std::string ThroughTheShell(const std::string& text) {
  std::string command = "printf '%s' " + ShellQuote(text);
  FILE* shell = popen(command.c_str(), "r");
  std::string out;
  char block[256];
  for (size_t n; shell != nullptr && (n = fread(block, 1, sizeof block, shell)) > 0;)
    out.append(block, n);
  if (shell != nullptr)
    pclose(shell);
  return out;
}

TEST(ShellQuote, EveryByteStaysLiteral) {
  const std::string kTexts[] = {
      "/var/spool/VirtualFile",
      "",
      "it's",
      "''",
      "a b\tc\nd",
      "$(echo no) `echo no` ${HOME}",
      "*; | & > < \\ \" !",
      "-n",
      "caf\xc3\xa9",
  };
  for (const std::string& text : kTexts)
    EXPECT_EQ(ThroughTheShell(text), text) << text;
}

}  // namespace

}  // namespace vp
