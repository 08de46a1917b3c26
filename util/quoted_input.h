#pragma once

#include <string>

namespace vp {

// A JSON parser's error message without the input it quotes ("; last read: " onwards): that text
// may be part of a password or a token, and the job log is world-readable.
std::string WithoutQuotedInput(const std::string& message);

}  // namespace vp
