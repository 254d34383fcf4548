// MD5 message digest (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ost {

struct Md5Context {
  uint32_t state[4];   // chaining words A, B, C, D
  uint32_t count[2];   // message length in bits, low word first
  uint8_t buffer[64];  // the current incomplete block
  uint8_t digest[16];  // valid after Md5Final
};

void Md5Init(Md5Context* context);
void Md5Update(Md5Context* context, const void* data, size_t length);
void Md5Final(Md5Context* context);

// Digest of one buffer as 32 lowercase hex digits and a terminating zero, written
// into out (at least 33 bytes). Returns out.
char* Md5Hex(const void* data, size_t length, char* out);

}  // namespace ost
