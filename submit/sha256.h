#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vp {

// SHA-256 (FIPS 180-4). Feed bytes with update, any number of times, then final writes the 32-byte
// digest; init starts a new message.
class SHA256 {
 public:
  static constexpr size_t kDigestSize = 32;
  static constexpr size_t kBlockSize = 64;

  void init();
  void update(const unsigned char* message, size_t length);
  void final(unsigned char* digest);

 private:
  // The compression function over `count` whole blocks.
  void transform(const unsigned char* blocks, size_t count);

  uint32_t h_[8] = {};
  unsigned char block_[kBlockSize] = {};
  size_t blockUsed_ = 0;
  uint64_t totalBytes_ = 0;
};

// The digest of the text's bytes as 64 lowercase hexadecimal digits.
std::string sha256(const std::string& text);

}  // namespace vp
