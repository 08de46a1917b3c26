// pdfinfo: the page-count program the backend runs for every PDF job. It keeps the part of
// poppler's pdfinfo the backend relies on: `pdfinfo FILE` prints "Pages: N" and exits 0; a file
// that cannot be read or is not a PDF gives one line on standard error and exit status 1. CUPS's
// device discovery runs every program in the backend folder without arguments, so with none it
// prints nothing and exits 0. On macOS it counts with the system's own PDF engine (CoreGraphics)
// and loads nothing from outside the system, which the scheduler's sandbox would not let it
// read; elsewhere with poppler-cpp, so that the same program is built and tested on Linux.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef __APPLE__
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#else
#include <poppler-document.h>
#include <poppler-global.h>

#include <memory>
#endif

namespace vp {

namespace {

struct PageCount {
  bool ok = false;
  long pages = 0;
  std::string why;  // when not ok
};

#ifdef __APPLE__

PageCount CountPages(const char* path) {
  CFURLRef url = CFURLCreateFromFileSystemRepresentation(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(path),
      static_cast<CFIndex>(std::strlen(path)), false);
  CGPDFDocumentRef document = url == nullptr ? nullptr : CGPDFDocumentCreateWithURL(url);
  if (url != nullptr)
    CFRelease(url);
  if (document == nullptr)
    return {false, 0, "not a PDF"};
  // A document encrypted with an empty user password opens as poppler opens it.
  bool unlocked =
      CGPDFDocumentIsUnlocked(document) || CGPDFDocumentUnlockWithPassword(document, "");
  PageCount count{unlocked, static_cast<long>(CGPDFDocumentGetNumberOfPages(document)),
                  unlocked ? "" : "encrypted, and not with an empty password"};
  CGPDFDocumentRelease(document);
  return count;
}

#else

// poppler reports each repair of a damaged file on standard error; only our one line goes there.
void Quiet(const std::string&, void*) {}

PageCount CountPages(const char* path) {
  poppler::set_debug_error_function(Quiet, nullptr);
  std::unique_ptr<poppler::document> document(poppler::document::load_from_file(path));
  if (!document)
    return {false, 0, "not a PDF"};
  if (document->is_locked())
    return {false, 0, "encrypted, and not with an empty password"};
  return {true, document->pages(), ""};
}

#endif

}  // namespace

}  // namespace vp

using namespace vp;

int main(int argc, char* argv[]) {
  if (argc < 2)
    return 0;
  const char* path = argv[1];
  // Unreadable files are told apart from files that are not PDFs, with the system's reason.
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "pdfinfo: %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  close(fd);
  PageCount count = CountPages(path);
  if (!count.ok) {
    std::fprintf(stderr, "pdfinfo: %s: %s\n", path, count.why.c_str());
    return 1;
  }
  std::printf("Pages: %ld\n", count.pages);
  return 0;
}
