// The signed index of a release (server.sig): the two versions, and for the manifest
// and every package its path, size and SHA-256, signed by the maker's ECDSA P-256 key.
// Written by the release tool, read by the update tool; docs/RELEASES.md has
// the format.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto_port.h"
#include "util/bytes.h"

namespace ost {

inline constexpr char kIndexName[] = "server.sig";
// The form of the registry value UpdateKey and of the key the release tool prints.
inline constexpr char kPublicKeyPrefix[] = "ecdsa-p256:";
// UpdateKey may hold this many keys, separated by ';' (a maker rotating keys signs with
// the old and the new one while servers learn the new one).
constexpr size_t kMaxUpdateKeys = 3;
inline constexpr char kKeySeparator = ';';
// The largest serial and expiry an index carries: ten decimal digits.
constexpr uint64_t kMaxSerial = 9999999999ull;

struct IndexEntry {
  std::string path;  // below the update folder, as requested (the manifest's code page)
  uint64_t size = 0;
  Sha256Digest digest;
};

struct ReleaseIndex {
  int format = 2;            // 1: the first format, without serial and expiry
  int32_t ostraVersion = 0;  // hundredths, as the manifest's first number
  int32_t velinVersion = 0;  // tenths, as its second
  uint64_t serial = 0;       // from 1; 0 in the first format, which has none
  uint64_t expires = 0;      // UTC seconds after which it is refused; 0: never (first format)
  std::vector<IndexEntry> files;

  // The entry of this path; null when the index does not list it.
  const IndexEntry* Find(std::string_view path) const;
};

// The signed part of server.sig: every line but the signatures', in the index's format.
std::string IndexBody(const ReleaseIndex& index);
// The whole file: the body and its signature line.
std::string SignedIndexText(std::string_view body, ByteSpan signature);
// The same with one signature line per key that signed it (at most kMaxUpdateKeys).
std::string SignedIndexText(std::string_view body,
                            const std::vector<std::vector<uint8_t>>& signatures);

enum class IndexProblem {
  kNone,
  kMalformed,     // not an index of this format
  kBadSignature,  // the key did not sign it
  kBadKey,        // the key is no usable P-256 key
  kNoCrypto,      // the platform's cryptography could not be had
};

struct IndexRead {
  IndexProblem problem = IndexProblem::kNone;
  std::string detail;  // what was wrong, in English, for the record of the run
  ReleaseIndex index;  // filled when problem is kNone
};

// Reads server.sig and checks its signatures: accepted when one of them is by one of
// publicKeys (the curves' points).
IndexRead ReadSignedIndex(CryptoPort& crypto, const std::vector<std::vector<uint8_t>>& publicKeys,
                          ByteSpan text);
IndexRead ReadSignedIndex(CryptoPort& crypto, ByteSpan publicKey, ByteSpan text);

// Parses the body alone, without its signature; false with *detail on a malformed one.
bool ParseIndexBody(std::string_view body, ReleaseIndex* index, std::string* detail);

// The public key as the registry value holds it: the prefix and the point in hex.
std::string PublicKeyText(ByteSpan point);
// The point of such a text (letter case and surrounding blanks aside); false when the
// text is no key of this form.
bool ParsePublicKeyText(std::string_view text, std::vector<uint8_t>* point);
// One to kMaxUpdateKeys keys separated by kKeySeparator (blanks around each aside);
// false when any part is no key, or there are none or too many.
bool ParsePublicKeyList(std::string_view text, std::vector<std::vector<uint8_t>>* points);

// Lowercase hex of bytes, and back (false on an odd length or a non-hex digit).
std::string HexOf(ByteSpan bytes);
bool ParseHex(std::string_view hex, std::vector<uint8_t>* bytes);

}  // namespace ost
