#pragma once

#include <cstdint>
#include <string>

namespace vp {

// Print jobs made up for the benchmarks, written in blocks so that a 1 GiB job needs no more memory
// than a small one. The same size always gives the same bytes.

// A driver's PostScript job: a PJL preamble, the comments and features every family's parser looks
// for, then pages of image data as long lines of ASCII85-like text and raw bytes, and the
// trailer with the page count. About `size` bytes. Returns false when the file cannot be written.
bool MakePostScriptJob(const std::string& path, uint64_t size);

// A valid PDF of about `size` bytes whose pages each draw one uncompressed image of random bytes,
// so that the page-count program reads it as a real document.
bool MakePdfJob(const std::string& path, uint64_t size);

// A PCL XL job as Ghostscript's PCL XL devices write it behind a PJL header: pages of grey image
// data in embedded blocks of random bytes, each page with its copies. About `size` bytes.
bool MakePclXlJob(const std::string& path, uint64_t size);

// "100K", "10M", "1G" (powers of 1024) or plain bytes; 0 when the text is not a size.
uint64_t ParseSize(const std::string& text);

// The size as the flag would be written: "100K", "10M", "1G", or bytes.
std::string SizeName(uint64_t size);

}  // namespace vp
