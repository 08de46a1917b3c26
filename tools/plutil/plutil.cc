// `plutil -p FILE` for systems without the macOS tool: prints an XML or binary property list in the
// same human-readable layout, which the backend turns into JSON.

#include <fcntl.h>
#include <plist/plist.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace vp {

namespace {

// Property lists are parsed whole; a settings file is a few kilobytes, so anything this large is
// not one of ours and is refused rather than loaded.
constexpr size_t kMaxFileSize = 64u << 20;

// Dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr time_t kDateEpoch = 978307200;

bool readFile(const char* path, std::string& data, std::string& error) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = strerror(errno);
    return false;
  }
  char block[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      error = strerror(errno);
      ok = false;
      break;
    }
    if (n == 0)
      break;
    if (data.size() + static_cast<size_t>(n) > kMaxFileSize) {
      error = "file too large";
      ok = false;
      break;
    }
    data.append(block, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

void appendIndent(std::string& out, int level) {
  out.append(static_cast<size_t>(level) * 2, ' ');
}

void appendValue(std::string& out, plist_t node, int level);

void appendString(std::string& out, plist_t node) {
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  out += '"';
  if (text != nullptr)
    out.append(text, static_cast<size_t>(length));
  out += '"';
}

// libplist hands every integer out unsigned. Read as signed, negative values print right; values
// above the signed range are too rare in settings to be worth the ambiguity.
void appendInteger(std::string& out, plist_t node) {
  uint64_t value = 0;
  plist_get_uint_val(node, &value);
  out += std::to_string(static_cast<int64_t>(value));
}

void appendReal(std::string& out, plist_t node) {
  double value = 0;
  plist_get_real_val(node, &value);
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

void appendDate(std::string& out, plist_t node) {
  int32_t seconds = 0;
  int32_t microseconds = 0;
  plist_get_date_val(node, &seconds, &microseconds);
  time_t when = kDateEpoch + seconds;
  struct tm utc {};
  char text[64] = "";
  if (gmtime_r(&when, &utc) != nullptr)
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
  out += text;
}

void appendData(std::string& out, plist_t node) {
  uint64_t length = 0;
  const char* bytes = plist_get_data_ptr(node, &length);
  out += "{length = " + std::to_string(length) + ", bytes = 0x";
  static const char kHex[] = "0123456789abcdef";
  for (uint64_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(bytes[i]);
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0f];
  }
  out += '}';
}

void appendUid(std::string& out, plist_t node) {
  uint64_t value = 0;
  plist_get_uid_val(node, &value);
  out += "{value = " + std::to_string(value) + "}";
}

// Keys in case-insensitive order; keys equal but for case keep a fixed order by bytes.
bool keyBefore(const std::pair<std::string, plist_t>& a, const std::pair<std::string, plist_t>& b) {
  int order = strcasecmp(a.first.c_str(), b.first.c_str());
  return order != 0 ? order < 0 : a.first < b.first;
}

std::vector<std::pair<std::string, plist_t>> sortedEntries(plist_t dict) {
  std::vector<std::pair<std::string, plist_t>> entries;
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(dict, &iter);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dict, iter, &key, &value);
    if (value == nullptr) {
      free(key);
      break;
    }
    entries.emplace_back(key != nullptr ? key : "", value);
    free(key);
  }
  free(iter);
  std::sort(entries.begin(), entries.end(), keyBefore);
  return entries;
}

void appendDict(std::string& out, plist_t node, int level) {
  out += "{\n";
  for (const auto& [key, value] : sortedEntries(node)) {
    appendIndent(out, level + 1);
    out += '"' + key + "\" => ";
    appendValue(out, value, level + 1);
    out += '\n';
  }
  appendIndent(out, level);
  out += '}';
}

void appendArray(std::string& out, plist_t node, int level) {
  out += "[\n";
  uint32_t size = plist_array_get_size(node);
  for (uint32_t i = 0; i < size; ++i) {
    appendIndent(out, level + 1);
    out += std::to_string(i) + " => ";
    appendValue(out, plist_array_get_item(node, i), level + 1);
    out += '\n';
  }
  appendIndent(out, level);
  out += ']';
}

void appendValue(std::string& out, plist_t node, int level) {
  switch (plist_get_node_type(node)) {
    case PLIST_DICT:
      appendDict(out, node, level);
      break;
    case PLIST_ARRAY:
      appendArray(out, node, level);
      break;
    case PLIST_STRING:
    case PLIST_KEY:
      appendString(out, node);
      break;
    case PLIST_BOOLEAN:
      out += plist_bool_val_is_true(node) ? "true" : "false";
      break;
    case PLIST_UINT:
      appendInteger(out, node);
      break;
    case PLIST_REAL:
      appendReal(out, node);
      break;
    case PLIST_DATE:
      appendDate(out, node);
      break;
    case PLIST_DATA:
      appendData(out, node);
      break;
    case PLIST_UID:
      appendUid(out, node);
      break;
    case PLIST_NONE:
      break;
  }
}

// Nothing reaches standard output unless the property list was read and parsed whole.
int printPlist(const char* path) {
  std::string data;
  std::string error;
  if (!readFile(path, data, error)) {
    fprintf(stderr, "plutil: %s: %s\n", path, error.c_str());
    return 1;
  }
  plist_t root = nullptr;
  if (!data.empty())
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
  if (root == nullptr) {
    fprintf(stderr, "plutil: %s: not a property list\n", path);
    return 1;
  }
  std::string listing;
  appendValue(listing, root, 0);
  listing += '\n';
  plist_free(root);
  if (fwrite(listing.data(), 1, listing.size(), stdout) != listing.size() || fflush(stdout) != 0) {
    fprintf(stderr, "plutil: %s: cannot write the listing: %s\n", path, strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

}  // namespace vp

using namespace vp;

int main(int argc, char** argv) {
  if (argc != 3 || strcmp(argv[1], "-p") != 0) {
    fprintf(stderr, "usage: plutil -p FILE\n");
    return 2;
  }
  return printPlist(argv[2]);
}
