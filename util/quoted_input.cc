#include "util/quoted_input.h"

std::string WithoutQuotedInput(const std::string& message) {
  return message.substr(0, message.find("; last read: "));
}
