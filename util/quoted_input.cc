#include "util/quoted_input.h"

namespace vp {

std::string WithoutQuotedInput(const std::string& message) {
  return message.substr(0, message.find("; last read: "));
}

}  // namespace vp
