#include "submit/upload.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "submit/server_address.h"
#include "util/job_log.h"
#include "util/safe_file.h"

namespace vp {

namespace {

constexpr long kConnectTimeoutSeconds = 15;

// A server that takes the body and never answers would hold the job and its queue for ever. There
// is no limit on the whole transfer: a large job on a slow link that still moves goes through.
constexpr long kLowSpeedBytesPerSecond = 1;
constexpr long kLowSpeedSeconds = 60;

// The answer is only kept for reading the log; a server that streams more must not fill the log's
// disk.
constexpr size_t kMaxAnswerLogged = 1 << 20;

struct Escape {
  char byte;
  const char* text;
};

constexpr Escape kEscapes[] = {
    {'"', "\\\""}, {'\\', "\\\\"}, {'\b', "\\b"}, {'\f', "\\f"},
    {'\n', "\\n"}, {'\r', "\\r"},  {'\t', "\\t"},
};

void appendCodePoint(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0f];
}

void appendEscaped(std::string& out, char c) {
  for (const Escape& escape : kEscapes) {
    if (escape.byte == c) {
      out += escape.text;
      return;
    }
  }
  if (static_cast<unsigned char>(c) < 0x20) {
    appendCodePoint(out, static_cast<unsigned char>(c));
    return;
  }
  out += c;
}

// Lead bytes of well-formed UTF-8 sequences, with the range their second byte must fall in (this
// excludes overlong forms, surrogates and code points beyond U+10FFFF); further bytes are 80..BF.
struct Utf8Lead {
  unsigned char from, to;
  size_t length;
  unsigned char secondFrom, secondTo;
};

constexpr Utf8Lead kUtf8Leads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// Length of the well-formed multi-byte UTF-8 sequence at `at`, or 0.
size_t utf8SequenceLength(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  for (const Utf8Lead& lead : kUtf8Leads) {
    if (byte(0) < lead.from || byte(0) > lead.to)
      continue;
    if (text.size() - at < lead.length || byte(1) < lead.secondFrom || byte(1) > lead.secondTo)
      return 0;
    for (size_t i = 2; i < lead.length; ++i) {
      if ((byte(i) & 0xC0) != 0x80)
        return 0;
    }
    return lead.length;
  }
  return 0;
}

size_t readDataFile(char* buffer, size_t size, size_t count, void* source) {
  int fd = *static_cast<int*>(source);
  ssize_t got;
  do {
    got = read(fd, buffer, size * count);
  } while (got < 0 && errno == EINTR);
  return got < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(got);
}

int seekDataFile(void* source, curl_off_t offset, int origin) {
  int fd = *static_cast<int*>(source);
  return lseek(fd, offset, origin) < 0 ? CURL_SEEKFUNC_FAIL : CURL_SEEKFUNC_OK;
}

// The data file through the file policy of the shared log directory, and its size. Returns -1 and
// sets size 0 on failure.
int openDataFile(const std::string& path, curl_off_t& size) {
  size = 0;
  int fd = OpenNoFollow(path, O_RDONLY, 0);
  if (fd < 0)
    return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    close(fd);
    return -1;
  }
  size = info.st_size;
  return fd;
}

void addTextPart(curl_mime* form, const char* name, const std::string& text) {
  curl_mimepart* part = curl_mime_addpart(form);
  curl_mime_name(part, name);
  curl_mime_data(part, text.data(), text.size());
}

void addFilePart(curl_mime* form, int& fd, curl_off_t size, const std::string& fileName) {
  curl_mimepart* part = curl_mime_addpart(form);
  curl_mime_name(part, "uploadfile");
  curl_mime_data_cb(part, size, readDataFile, seekDataFile, nullptr, &fd);
  curl_mime_filename(part, fileName.c_str());
  curl_mime_type(part, "application/octet-stream");
}

curl_mime* buildForm(CURL* curl, const std::string& token, const JobInfo& job, int& fd,
                     curl_off_t size, const std::string& fileName) {
  curl_mime* form = curl_mime_init(curl);
  addTextPart(form, "token", token);
  addTextPart(form, "printProperties", printProperties(job));
  addFilePart(form, fd, size, fileName);
  return form;
}

// Sends the form; completed when the transfer did, whatever the server answered.
UploadResult postForm(std::ostream& log, CURL* curl, const std::string& url, curl_mime* form,
                      const QueueStatus& status) {
  AnswerSink sink{&log, 0};
  UploadProgress progress{&status, -1, std::chrono::steady_clock::now()};
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ReportUploadProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &progress);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, status.on ? 0L : 1L);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, LogUploadAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  SkipCertificateChecksForHttps(curl, url);
  CURLcode result = curl_easy_perform(curl);
  UploadResult sent;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &sent.httpStatus);
  if (result != CURLE_OK) {
    sent.outcome = {Failure::kUploadFailed, curl_easy_strerror(result)};
    Log(log, "curl_easy_perform() failed: " + sent.outcome.detail);
  }
  return sent;
}

}  // namespace

std::string escapeString(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    const size_t length = byte < 0x80 ? 1 : utf8SequenceLength(text, at);
    if (length == 1) {
      appendEscaped(escaped, text[at]);
    } else if (length > 1) {
      escaped.append(text, at, length);
    } else {
      // Not UTF-8, which JSON must be: read as Latin-1 (the encoding PPD files default to), so the
      // description still parses and the character survives.
      appendCodePoint(escaped, byte);
    }
    at += length == 0 ? 1 : length;
  }
  return escaped;
}

std::string printProperties(const JobInfo& job) {
  return "{\"terminaltype\": \"linux\",\"DocumentName\": \"" + escapeString(job.documentName) +
         "\",\"AllPage\": \"" + escapeString(job.pages) + "\",\"CopyCount\": \"" +
         escapeString(job.copies) + "\",\"Paper\": \"ISO" + escapeString(job.paper) +
         "\",\"Duplexing\": \"" + escapeString(job.duplex) + "\",\"Color\":\"" +
         escapeString(job.color) + "\",\"PageOrientation\": \"" + escapeString(job.orientation) +
         "\",\"DriverName\": \"" + escapeString(job.driverName) +
         "\",\"DocumentLevel\": \"\xE5\x85\xAC\xE5\xBC\x80\"}";
}

size_t LogUploadAnswer(void* contents, size_t size, size_t count, void* target) {
  auto* sink = static_cast<AnswerSink*>(target);
  size_t bytes = size * count;
  size_t keep = std::min(bytes, kMaxAnswerLogged - std::min(sink->written, kMaxAnswerLogged));
  sink->log->write(static_cast<const char*>(contents), static_cast<std::streamsize>(keep));
  sink->written += keep;
  return bytes;
}

UploadResult uploadFileToQuoradexV2(std::ostream& log, const JobFiles& files,
                                    const std::string& serverIp, const std::string& token,
                                    const JobInfo& job, const std::string& dataFileName,
                                    const QueueStatus& status) {
  Log(log, "uploadFileToQuoradexV2");
  std::string path = files.Path(dataFileName);
  std::string url = serverBaseAddress(serverIp) + "/quoradex/printservice/fileupload";
  UploadResult sent;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    Log(log, "Failed to initialize libcurl");
    sent.outcome = {Failure::kUploadFailed, curl_easy_strerror(CURLE_FAILED_INIT)};
    return sent;
  }
  curl_off_t size = 0;
  int fd = openDataFile(path, size);
  if (fd < 0) {
    // Nothing is sent for a job whose data cannot be read; the log reads as for a failed transfer.
    sent.outcome = {Failure::kUploadFailed, curl_easy_strerror(CURLE_READ_ERROR)};
    Log(log, "curl_easy_perform() failed: " + sent.outcome.detail);
    curl_easy_cleanup(curl);
    return sent;
  }
  curl_mime* form = buildForm(curl, token, job, fd, size, dataFileName);
  sent = postForm(log, curl, url, form, status);
  curl_easy_cleanup(curl);
  curl_mime_free(form);
  close(fd);
  return sent;
}

}  // namespace vp
