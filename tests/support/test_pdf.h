#pragma once

#include <string>

// A small but complete PDF of `pages` empty A4 pages (catalog, page tree, correct xref table),
// that pdfinfo and any other reader accept.
std::string MakePdf(int pages);
