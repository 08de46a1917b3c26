// sha256 and the SHA256 class against libcrypto's SHA-256, on any message, with the message fed
// whole and in pieces of every length.

#include <openssl/sha.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "submit/sha256.h"
#include "tests/fuzz/fuzz_support.h"

namespace vp {

namespace {

std::string Hex(const unsigned char* digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < SHA256_DIGEST_LENGTH; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0f];
  }
  return text;
}

// Piece lengths come from the message's own bytes, so every split gets tried.
std::string InPieces(class SHA256& hash, const uint8_t* data, size_t size) {
  hash.init();
  for (size_t at = 0; at < size;) {
    hash.update(data + at, 0);  // an empty piece changes nothing
    size_t piece = std::min<size_t>(size - at, 1 + data[at] % 130);
    hash.update(data + at, piece);
    at += piece;
  }
  unsigned char digest[SHA256_DIGEST_LENGTH];
  hash.final(digest);
  return Hex(digest);
}

}  // namespace

}  // namespace vp

using namespace vp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  unsigned char reference[SHA256_DIGEST_LENGTH];
  ::SHA256(data, size, reference);
  const std::string expected = Hex(reference);
  Require(sha256(std::string(reinterpret_cast<const char*>(data), size)) == expected,
          "sha256 of the whole message");
  class SHA256 hash;
  Require(InPieces(hash, data, size) == expected, "pieces give the same digest");
  Require(InPieces(hash, data, size) == expected, "init starts afresh");
  return 0;
}
