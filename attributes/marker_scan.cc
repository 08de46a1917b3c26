#include "attributes/marker_scan.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <vector>

#include "util/job_log.h"
#include "util/safe_file.h"

namespace vp {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

// The file's bytes from `begin` to `end` are not yet scanned; everything before `begin` is done.
struct Buffer {
  int fd = -1;
  std::vector<char> bytes;
  size_t begin = 0;
  size_t end = 0;
  bool eof = false;
  PageLanguageReader* language = nullptr;  // sees every byte once, as it is read
};

// Moves the unscanned bytes to the front, doubles a buffer they fill, and reads once more. A read
// failure ends the data like the end of file. Returns how far the kept bytes moved.
size_t Refill(Buffer& b) {
  const size_t shift = b.begin;
  std::memmove(b.bytes.data(), b.bytes.data() + shift, b.end - shift);
  b.begin = 0;
  b.end -= shift;
  if (b.end == b.bytes.size()) {
    b.bytes.resize(2 * b.bytes.size());
  }
  ssize_t n = 0;
  do {
    n = read(b.fd, b.bytes.data() + b.end, b.bytes.size() - b.end);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    if (b.language)
      b.language->Feed(b.bytes.data() + b.end, static_cast<size_t>(n));
    b.end += static_cast<size_t>(n);
  } else {
    b.eof = true;
  }
  return shift;
}

// Every marker starts with one of a few bytes ('%' or '@' in practice), so memchr for those skips
// the bulk of the data. `next[i]` is the next position of `bytes[i]` at or after the scan point, or
// the end of the buffer when there is none. `pairs` holds the markers' first two bytes, which
// turns away almost every candidate without comparing a marker.
struct Cursors {
  std::vector<char> bytes;
  std::vector<size_t> next;
  std::bitset<65536> pairs;
};

size_t PairIndex(char first, char second) {
  return static_cast<size_t>(static_cast<unsigned char>(first)) << 8 |
         static_cast<unsigned char>(second);
}

Cursors MakeCursors(std::span<const Marker> markers) {
  Cursors c;
  for (const Marker& m : markers) {
    if (m.text.empty()) {
      continue;
    }
    if (std::find(c.bytes.begin(), c.bytes.end(), m.text[0]) == c.bytes.end()) {
      c.bytes.push_back(m.text[0]);
    }
    for (int second = 0; second < 256; ++second) {
      if (m.text.size() == 1 || m.text[1] == static_cast<char>(second)) {
        c.pairs.set(PairIndex(m.text[0], static_cast<char>(second)));
      }
    }
  }
  c.next.resize(c.bytes.size());
  return c;
}

void Locate(Cursors& c, size_t i, const char* data, size_t from, size_t end) {
  const void* hit = from < end ? std::memchr(data + from, c.bytes[i], end - from) : nullptr;
  c.next[i] = hit ? static_cast<size_t>(static_cast<const char*>(hit) - data) : end;
}

// Moves every cursor that lies before `from` to its byte's next position in [from, end).
void Seek(Cursors& c, const char* data, size_t from, size_t end) {
  for (size_t i = 0; i < c.bytes.size(); ++i) {
    if (c.next[i] < from) {
      Locate(c, i, data, from, end);
    }
  }
}

// After the buffer moved, every cursor has to be searched afresh.
void Restart(Cursors& c, const char* data, size_t from, size_t end) {
  for (size_t i = 0; i < c.bytes.size(); ++i) {
    Locate(c, i, data, from, end);
  }
}

size_t Nearest(const Cursors& c, size_t end) {
  size_t nearest = end;
  for (size_t position : c.next) {
    nearest = std::min(nearest, position);
  }
  return nearest;
}

// True when `text` starts at `at` and ends at or before `bound`.
bool MatchesAt(const char* data, size_t at, size_t bound, std::string_view text) {
  return !text.empty() && text.size() <= bound - at && data[at] == text[0] &&
         std::memcmp(data + at, text.data(), text.size()) == 0;
}

// False when no marker can start at `at`; a marker ending at `bound` at the latest may.
bool MayMatchAt(const Cursors& c, const char* data, size_t at, size_t bound) {
  return at + 1 >= bound || c.pairs.test(PairIndex(data[at], data[at + 1]));
}

bool AnyMarkerAt(std::span<const Marker> markers, const Cursors& c, const char* data, size_t at,
                 size_t bound) {
  return MayMatchAt(c, data, at, bound) &&
         std::any_of(markers.begin(), markers.end(),
                     [&](const Marker& m) { return MatchesAt(data, at, bound, m.text); });
}

size_t LongestMarker(std::span<const Marker> markers) {
  size_t longest = 1;
  for (const Marker& m : markers) {
    longest = std::max(longest, m.text.size());
  }
  return longest;
}

// The line holding a hit, from the hit to the line end (the line feed, or the end of the data).
struct HitLine {
  size_t from = 0;
  size_t to = 0;
  bool moved = false;  // the buffer was refilled and the bytes moved
};

// Finds the end of the line that holds a hit at `from`, reading on as long as the line goes; the
// bytes from the hit on are kept, so the buffer grows with the line.
HitLine FindLineEnd(Buffer& b, size_t from) {
  HitLine line{from, from, false};
  size_t searched = from;
  for (;;) {
    const void* feed = std::memchr(b.bytes.data() + searched, '\n', b.end - searched);
    if (feed) {
      line.to = static_cast<const char*>(feed) - b.bytes.data();
      return line;
    }
    if (b.eof) {
      line.to = b.end;
      return line;
    }
    searched = b.end;
    b.begin = line.from;
    const size_t shift = Refill(b);
    line.from -= shift;
    searched -= shift;
    line.moved = true;
  }
}

// The first occurrence of each marker within the line, kNone where it does not occur. Leaves the
// cursors past the line.
void CollectHits(std::span<const Marker> markers, Cursors& c, const Buffer& b, const HitLine& line,
                 std::vector<size_t>& hits) {
  const char* data = b.bytes.data();
  std::fill(hits.begin(), hits.end(), kNone);
  for (size_t at = Nearest(c, b.end); at < line.to; at = Nearest(c, b.end)) {
    for (size_t i = 0; i < markers.size(); ++i) {
      if (hits[i] == kNone && MayMatchAt(c, data, at, line.to) &&
          MatchesAt(data, at, line.to, markers[i].text)) {
        hits[i] = at;
      }
    }
    Seek(c, data, at + 1, b.end);
  }
}

void ReportHit(std::ostream& log, const Marker& m, const std::string& value) {
  if (m.report == Report::kStdout) {
    std::cout << m.label << value << '\n' << std::flush;
  } else {
    Log(log, std::string(m.label), value);
  }
}

std::string NameValue(const Rule& rule, const std::string& value) {
  const bool named = std::find(rule.names.begin(), rule.names.end(), value) != rule.names.end();
  return std::string(named ? rule.onMatch : rule.otherwise);
}

void ApplyHit(std::ostream& log, const Marker& m, const std::string& value, JobInfo& info) {
  if (m.rule.names.empty()) {
    std::optional<std::string> count = CountValue(value);
    if (!count) {
      return;
    }
    ReportHit(log, m, value);
    info.*m.field = std::move(*count);
    return;
  }
  ReportHit(log, m, value);
  info.*m.field = NameValue(m.rule, value);
}

void ApplyLine(std::ostream& log, std::span<const Marker> markers, const Buffer& b,
               const HitLine& line, const std::vector<size_t>& hits, JobInfo& info) {
  for (size_t i = 0; i < markers.size(); ++i) {
    if (hits[i] != kNone) {
      const size_t from = hits[i] + markers[i].text.size();
      ApplyHit(log, markers[i], std::string(b.bytes.data() + from, line.to - from), info);
    }
  }
}

// Scans what the buffer holds: every line with a hit is applied; bytes that cannot yet be told
// apart from the start of a marker are left for the next block.
void ScanBuffer(std::ostream& log, std::span<const Marker> markers, Buffer& b, Cursors& c,
                std::vector<size_t>& hits, JobInfo& info) {
  const size_t tail = LongestMarker(markers) - 1;
  Restart(c, b.bytes.data(), b.begin, b.end);
  for (;;) {
    const size_t decided = b.eof ? b.end : std::max(b.begin, b.end - std::min(b.end, tail));
    size_t at = Nearest(c, b.end);
    while (at < decided && !AnyMarkerAt(markers, c, b.bytes.data(), at, b.end)) {
      Seek(c, b.bytes.data(), at + 1, b.end);
      at = Nearest(c, b.end);
    }
    if (at >= decided) {
      b.begin = decided;
      return;
    }
    const HitLine line = FindLineEnd(b, at);
    if (line.moved) {
      Restart(c, b.bytes.data(), line.from, b.end);
    }
    CollectHits(markers, c, b, line, hits);
    ApplyLine(log, markers, b, line, hits, info);
    b.begin = std::min(line.to + 1, b.end);
    Seek(c, b.bytes.data(), b.begin, b.end);
  }
}

}  // namespace

bool AllisNum(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

std::optional<std::string> CountValue(const std::string& value) {
  static constexpr std::string_view kLargest = "2147483647";
  if (!AllisNum(value)) {
    return std::nullopt;
  }
  const size_t first = std::min(value.find_first_not_of('0'), value.size());
  const std::string_view digits = std::string_view(value).substr(first);
  if (digits.size() > kLargest.size() || (digits.size() == kLargest.size() && digits > kLargest)) {
    return std::nullopt;
  }
  return digits.empty() ? std::string("0") : std::string(digits);
}

JobInfo ScanMarkers(std::ostream& log, const std::string& path, std::span<const Marker> markers,
                    size_t blockSize, PageLanguageReader* language) {
  JobInfo info;
  Buffer b;
  b.language = language;
  // The log folder is shared: a link or a FIFO put in the data file's place is neither followed
  // nor waited on.
  b.fd = OpenNoFollow(path, O_RDONLY, 0);
  if (b.fd < 0) {
    return info;
  }
  b.bytes.resize(std::max<size_t>(blockSize, 1));
  Cursors c = MakeCursors(markers);
  std::vector<size_t> hits(markers.size());
  do {
    Refill(b);
    ScanBuffer(log, markers, b, c, hits, info);
  } while (!b.eof);
  close(b.fd);
  return info;
}

}  // namespace vp
