#pragma once

#include <string>

namespace vp {

// A valid PDF of `pages` A4 pages, each saying "Page N" (xref offsets exact, so pdfinfo and any
// other reader count the pages), with the title in its document information when one is given.
std::string MakePdf(int pages, const std::string& title = "");

}  // namespace vp
