#include "submit/sha256.h"

#include <algorithm>
#include <cstring>

namespace vp {

namespace {

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t kInitialHash[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

uint32_t rotr(uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

uint32_t loadBigEndian(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void storeBigEndian(uint32_t value, unsigned char* p) {
  p[0] = static_cast<unsigned char>(value >> 24);
  p[1] = static_cast<unsigned char>(value >> 16);
  p[2] = static_cast<unsigned char>(value >> 8);
  p[3] = static_cast<unsigned char>(value);
}

}  // namespace

void SHA256::init() {
  std::memcpy(h_, kInitialHash, sizeof h_);
  blockUsed_ = 0;
  totalBytes_ = 0;
}

void SHA256::transform(const unsigned char* blocks, size_t count) {
  for (size_t n = 0; n < count; ++n) {
    const unsigned char* block = blocks + n * kBlockSize;
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) {
      w[t] = loadBigEndian(block + 4 * t);
    }
    for (int t = 16; t < 64; ++t) {
      uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
      uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3];
    uint32_t e = h_[4], f = h_[5], g = h_[6], h = h_[7];
    for (int t = 0; t < 64; ++t) {
      uint32_t sum1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
      uint32_t choice = (e & f) ^ (~e & g);
      uint32_t t1 = h + sum1 + choice + kRoundConstants[t] + w[t];
      uint32_t sum0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
      uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
      uint32_t t2 = sum0 + majority;
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    h_[5] += f;
    h_[6] += g;
    h_[7] += h;
  }
}

void SHA256::update(const unsigned char* message, size_t length) {
  totalBytes_ += length;
  if (blockUsed_ > 0) {
    size_t take = std::min(length, kBlockSize - blockUsed_);
    std::memcpy(block_ + blockUsed_, message, take);
    blockUsed_ += take;
    message += take;
    length -= take;
    if (blockUsed_ < kBlockSize) {
      return;
    }
    transform(block_, 1);
    blockUsed_ = 0;
  }
  size_t whole = length / kBlockSize;
  transform(message, whole);
  message += whole * kBlockSize;
  length -= whole * kBlockSize;
  if (length > 0) {
    std::memcpy(block_, message, length);
  }
  blockUsed_ = length;
}

void SHA256::final(unsigned char* digest) {
  uint64_t bitLength = totalBytes_ * 8;
  // The 0x80 marker and the 8-byte length must fit after the data; otherwise a second block holds
  // the length.
  size_t padBlocks = blockUsed_ + 1 + 8 > kBlockSize ? 2 : 1;
  unsigned char tail[2 * kBlockSize] = {};
  std::memcpy(tail, block_, blockUsed_);
  tail[blockUsed_] = 0x80;
  unsigned char* lengthField = tail + padBlocks * kBlockSize - 8;
  storeBigEndian(static_cast<uint32_t>(bitLength >> 32), lengthField);
  storeBigEndian(static_cast<uint32_t>(bitLength), lengthField + 4);
  transform(tail, padBlocks);
  for (int i = 0; i < 8; ++i) {
    storeBigEndian(h_[i], digest + 4 * i);
  }
}

std::string sha256(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  unsigned char digest[SHA256::kDigestSize];
  SHA256 ctx;
  ctx.init();
  ctx.update(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  ctx.final(digest);
  std::string hex;
  hex.reserve(2 * sizeof digest);
  for (unsigned char byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0x0f];
  }
  return hex;
}

}  // namespace vp
