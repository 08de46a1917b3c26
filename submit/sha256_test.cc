#include "submit/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace vp {

namespace {

// Every byte value once, 0 to 255: bytes above 127 must not be sign-extended.
std::string allBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) {
    bytes += static_cast<char>(i);
  }
  return bytes;
}

struct Vector {
  std::string message;
  const char* digest;
};

// FIPS 180-4 examples and messages around the padding boundaries: up to 55 bytes the length
// fits into the last block, from 56 to 63 it needs a block of its own.
const Vector kVectors[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnop"
     "qrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
    {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
    {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
    {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
    {std::string(1, '\0'), "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d"},
    {allBytes(), "40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

std::string hex(const unsigned char* digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < SHA256::kDigestSize; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0f];
  }
  return text;
}

// Feeds the message in pieces of `piece` bytes, so partial blocks are carried between calls.
std::string digestInPieces(const std::string& message, size_t piece) {
  SHA256 ctx;
  ctx.init();
  const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
  for (size_t at = 0; at < message.size(); at += piece) {
    ctx.update(bytes + at, std::min(piece, message.size() - at));
  }
  unsigned char digest[SHA256::kDigestSize];
  ctx.final(digest);
  return hex(digest);
}

TEST(Sha256Test, StandardVectors) {
  for (const Vector& v : kVectors) {
    EXPECT_EQ(sha256(v.message), v.digest) << v.message.size() << " bytes";
  }
}

TEST(Sha256Test, PiecewiseUpdatesGiveTheSameDigest) {
  for (const Vector& v : kVectors) {
    for (size_t piece : {1, 3, 63, 64, 65, 1000}) {
      EXPECT_EQ(digestInPieces(v.message, piece), v.digest)
          << v.message.size() << " bytes in pieces of " << piece;
    }
  }
}

TEST(Sha256Test, InitStartsAFreshMessage) {
  SHA256 ctx;
  ctx.init();
  ctx.update(reinterpret_cast<const unsigned char*>("junk"), 4);
  ctx.init();
  ctx.update(reinterpret_cast<const unsigned char*>("abc"), 3);
  unsigned char digest[SHA256::kDigestSize];
  ctx.final(digest);
  EXPECT_EQ(hex(digest), kVectors[1].digest);
}

}  // namespace

}  // namespace vp
