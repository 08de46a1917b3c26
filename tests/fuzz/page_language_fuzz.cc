// The page-language reader on any bytes: it never reads out of bounds, its counts stay counts, and
// what it reads does not depend on how the bytes are cut into pieces.

#include <cstddef>
#include <cstdint>
#include <string>

#include "attributes/page_language.h"
#include "tests/fuzz/fuzz_support.h"

namespace vp {

namespace {

PageLanguageFindings Read(const uint8_t* data, size_t size, size_t piece) {
  PageLanguageReader reader;
  for (size_t at = 0; at < size; at += piece)
    reader.Feed(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
  return reader.Finish();
}

bool IsCount(const std::string& text) {
  return text.empty() ||
         (text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos);
}

}  // namespace

}  // namespace vp

using namespace vp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const PageLanguageFindings whole = Read(data, size, size + 1);
  const size_t piece = size > 0 ? data[0] % 13 + 1 : 1;
  const PageLanguageFindings cut = Read(data, size, piece);
  Require(whole.language == cut.language, "the language does not depend on the pieces");
  Require(whole.found.pages == cut.found.pages && whole.found.copies == cut.found.copies &&
              whole.found.duplex == cut.found.duplex && whole.found.color == cut.found.color &&
              whole.found.binding == cut.found.binding && whole.greyOnly == cut.greyOnly,
          "the findings do not depend on the pieces");
  Require(IsCount(whole.found.pages) && IsCount(whole.found.copies), "pages and copies are counts");
  return 0;
}
