// Known answers shared by the tests of both crypto providers (OpenSSL here, CNG under
// Wine): SHA-256 from the FIPS 180-2 examples, ECDSA P-256 with SHA-256 from RFC 6979
// (A.2.5, message "sample").
#pragma once

#include <string>
#include <vector>

namespace ost::vectors {

struct HashVector {
  std::string message;
  const char* sha256;
};

inline std::vector<HashVector> Sha256Vectors() {
  return {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
  };
}

inline constexpr char kRfcMessage[] = "sample";
inline constexpr char kRfcPublicKey[] =
    "04"
    "60fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6"
    "7903fe1008b8bc99a41ae9e95628bc64f2f1b20c2d7e9f5177a3c294d4462299";
inline constexpr char kRfcSignature[] =
    "efd48b2aacb6a8fd1140dd9cd45e81d69d2c877b56aaf991c34d0ea84eaf3716"
    "f7cb1c942d657c41d436c7a1b6e29f65f3e900dbb9aff4064dc4ab2f843acda8";

}  // namespace ost::vectors
