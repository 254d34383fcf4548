// The signed index: its text, its parsing and the check of its signature.
#include "signing/signed_index.h"

#include <set>

namespace ost {
namespace {

constexpr std::string_view kHeaderLine = "OSTRA-RELEASE-INDEX 2";
// The first format: no serial, no expiry. Still read (docs/RELEASES.md says when it is
// accepted).
constexpr std::string_view kFirstHeaderLine = "OSTRA-RELEASE-INDEX 1";
constexpr std::string_view kSignatureLabel = "signature ";
constexpr size_t kMaxPath = 255;
constexpr uint64_t kMaxSize = 999999999;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A decimal number without sign, blanks or leading zeros, at most `limit`.
bool ReadNumber(std::string_view text, uint64_t limit, uint64_t* value) {
  if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > limit) return false;
  *value = n;
  return true;
}

// A path below the update folder that names one file and nothing else: no folder
// climbing, no absolute path, no bytes that a request line or a Windows name could
// read differently.
bool UsablePath(std::string_view path) {
  if (path.empty() || path.size() > kMaxPath || path.front() == '/' || path.back() == '/') {
    return false;
  }
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '\\' || c == ' ' || c == '?' || c == '#' || c == '%') {
      return false;
    }
  }
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    std::string_view segment = path.substr(start, slash - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

// Splits off the first word of text at a single space.
bool Word(std::string_view* text, std::string_view* word) {
  size_t space = text->find(' ');
  if (space == std::string_view::npos) return false;
  *word = text->substr(0, space);
  text->remove_prefix(space + 1);
  return true;
}

}  // namespace

const IndexEntry* ReleaseIndex::Find(std::string_view path) const {
  for (const IndexEntry& entry : files) {
    if (entry.path == path) return &entry;
  }
  return nullptr;
}

std::string HexOf(ByteSpan bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size * 2);
  for (size_t i = 0; i < bytes.size; ++i) {
    hex += kDigits[bytes.data[i] >> 4];
    hex += kDigits[bytes.data[i] & 15];
  }
  return hex;
}

bool ParseHex(std::string_view hex, std::vector<uint8_t>* bytes) {
  if (hex.size() % 2 != 0) return false;
  std::vector<uint8_t> out(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    int high = HexDigit(hex[2 * i]);
    int low = HexDigit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<uint8_t>(high * 16 + low);
  }
  *bytes = std::move(out);
  return true;
}

std::string PublicKeyText(ByteSpan point) { return kPublicKeyPrefix + HexOf(point); }

bool ParsePublicKeyText(std::string_view text, std::vector<uint8_t>* point) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  const std::string_view prefix = kPublicKeyPrefix;
  if (text.size() != prefix.size() + 2 * kP256PublicKeySize) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  std::vector<uint8_t> bytes;
  if (!ParseHex(text.substr(prefix.size()), &bytes) || bytes[0] != 0x04) return false;
  *point = std::move(bytes);
  return true;
}

bool ParsePublicKeyList(std::string_view text, std::vector<std::vector<uint8_t>>* points) {
  std::vector<std::vector<uint8_t>> keys;
  for (;;) {
    const size_t separator = text.find(kKeySeparator);
    std::vector<uint8_t> point;
    if (!ParsePublicKeyText(text.substr(0, separator), &point)) return false;
    keys.push_back(std::move(point));
    if (keys.size() > kMaxUpdateKeys) return false;
    if (separator == std::string_view::npos) break;
    text.remove_prefix(separator + 1);
  }
  *points = std::move(keys);
  return true;
}

std::string IndexBody(const ReleaseIndex& index) {
  std::string body = std::string(index.format == 1 ? kFirstHeaderLine : kHeaderLine) + "\n";
  body += "ostra " + std::to_string(index.ostraVersion) + "\n";
  body += "velin " + std::to_string(index.velinVersion) + "\n";
  if (index.format != 1) {
    body += "serial " + std::to_string(index.serial) + "\n";
    body += "expires " + std::to_string(index.expires) + "\n";
  }
  for (const IndexEntry& entry : index.files) {
    body += "file " + std::to_string(entry.size) + " " + HexOf({entry.digest.bytes, kSha256Size}) +
            " " + entry.path + "\n";
  }
  return body;
}

std::string SignedIndexText(std::string_view body, ByteSpan signature) {
  return std::string(body) + std::string(kSignatureLabel) + HexOf(signature) + "\n";
}

std::string SignedIndexText(std::string_view body,
                            const std::vector<std::vector<uint8_t>>& signatures) {
  std::string text(body);
  for (const std::vector<uint8_t>& signature : signatures) {
    text += std::string(kSignatureLabel) + HexOf({signature.data(), signature.size()}) + "\n";
  }
  return text;
}

bool ParseIndexBody(std::string_view body, ReleaseIndex* index, std::string* detail) {
  ReleaseIndex parsed;
  std::set<std::string_view> paths;
  int lineNumber = 0;
  bool sawOstra = false;
  bool sawVelin = false;
  bool sawSerial = false;
  while (!body.empty()) {
    ++lineNumber;
    const size_t lf = body.find('\n');
    if (lf == std::string_view::npos) {
      *detail = "line " + std::to_string(lineNumber) + " has no line end";
      return false;
    }
    std::string_view line = body.substr(0, lf);
    body.remove_prefix(lf + 1);
    auto bad = [&](const std::string& what) {
      *detail = "line " + std::to_string(lineNumber) + ": " + what;
      return false;
    };
    if (lineNumber == 1) {
      if (line == kFirstHeaderLine) {
        parsed.format = 1;
      } else if (line != kHeaderLine) {
        return bad("not an index of this format");
      }
      continue;
    }
    std::string_view label;
    if (!Word(&line, &label)) return bad("no value");
    if (lineNumber == 2 || lineNumber == 3) {
      const bool ostra = lineNumber == 2;
      uint64_t version = 0;
      if (label != (ostra ? "ostra" : "velin") || !ReadNumber(line, 999999, &version)) {
        return bad(ostra ? "no Ostra version" : "no Velin version");
      }
      (ostra ? parsed.ostraVersion : parsed.velinVersion) = static_cast<int32_t>(version);
      (ostra ? sawOstra : sawVelin) = true;
      continue;
    }
    if (parsed.format != 1 && (lineNumber == 4 || lineNumber == 5)) {
      const bool serial = lineNumber == 4;
      uint64_t value = 0;
      if (label != (serial ? "serial" : "expires") || !ReadNumber(line, kMaxSerial, &value) ||
          value == 0) {
        return bad(serial ? "no serial" : "no expiry");
      }
      (serial ? parsed.serial : parsed.expires) = value;
      sawSerial = sawSerial || !serial;
      continue;
    }
    if (label != "file") return bad("not a file line");
    std::string_view sizeText;
    std::string_view digestText;
    if (!Word(&line, &sizeText) || !Word(&line, &digestText)) return bad("a file line is cut");
    IndexEntry entry;
    if (!ReadNumber(sizeText, kMaxSize, &entry.size) || entry.size == 0) return bad("bad size");
    std::vector<uint8_t> digest;
    if (digestText.size() != 2 * kSha256Size || !ParseHex(digestText, &digest) ||
        HexOf({digest.data(), digest.size()}) != digestText) {
      return bad("bad SHA-256");
    }
    std::copy(digest.begin(), digest.end(), entry.digest.bytes);
    if (!UsablePath(line)) return bad("bad path");
    if (!paths.insert(line).second) return bad("a path listed twice");
    entry.path = std::string(line);
    parsed.files.push_back(std::move(entry));
  }
  if (!sawOstra || !sawVelin) {
    *detail = "no versions";
    return false;
  }
  if (parsed.format != 1 && !sawSerial) {
    *detail = "no serial and expiry";
    return false;
  }
  *index = std::move(parsed);
  return true;
}

IndexRead ReadSignedIndex(CryptoPort& crypto, ByteSpan publicKey, ByteSpan text) {
  return ReadSignedIndex(
      crypto, {std::vector<uint8_t>(publicKey.data, publicKey.data + publicKey.size)}, text);
}

IndexRead ReadSignedIndex(CryptoPort& crypto, const std::vector<std::vector<uint8_t>>& publicKeys,
                          ByteSpan text) {
  IndexRead read;
  const std::string_view all = text.AsText();
  auto fail = [&](IndexProblem problem, const std::string& detail) {
    read.problem = problem;
    read.detail = detail;
    return read;
  };
  // The signature lines are the last ones; the body is every byte before the first.
  if (all.empty() || all.back() != '\n') return fail(IndexProblem::kMalformed, "no final line end");
  std::vector<std::vector<uint8_t>> signatures;
  size_t bodyEnd = all.size();
  while (bodyEnd > 0 && signatures.size() <= kMaxUpdateKeys) {
    const size_t lastLine = bodyEnd >= 2 ? all.rfind('\n', bodyEnd - 2) : std::string_view::npos;
    const size_t lineStart = lastLine == std::string_view::npos ? 0 : lastLine + 1;
    std::string_view line = all.substr(lineStart, bodyEnd - 1 - lineStart);
    if (line.substr(0, kSignatureLabel.size()) != kSignatureLabel) break;
    std::vector<uint8_t> signature;
    if (!ParseHex(line.substr(kSignatureLabel.size()), &signature) ||
        signature.size() != kP256SignatureSize) {
      return fail(IndexProblem::kMalformed, "a signature line is no signature");
    }
    signatures.push_back(std::move(signature));
    bodyEnd = lineStart;
  }
  if (signatures.empty()) return fail(IndexProblem::kMalformed, "no signature line at the end");
  if (signatures.size() > kMaxUpdateKeys) {
    return fail(IndexProblem::kMalformed, "more signature lines than keys may be set");
  }
  const std::string_view body = all.substr(0, bodyEnd);

  // The signatures first: nothing of an unsigned text is read further.
  Sha256Digest digest;
  if (!crypto.Sha256(ByteSpan::Of(body), &digest)) {
    return fail(IndexProblem::kNoCrypto, "SHA-256 could not be computed");
  }
  bool valid = false;
  bool usableKey = false;
  bool unavailable = false;
  for (const std::vector<uint8_t>& key : publicKeys) {
    for (const std::vector<uint8_t>& signature : signatures) {
      switch (crypto.VerifyP256({key.data(), key.size()}, digest,
                                {signature.data(), signature.size()})) {
        case SignatureCheck::kValid:
          valid = true;
          usableKey = true;
          break;
        case SignatureCheck::kInvalid:
          usableKey = true;
          break;
        case SignatureCheck::kBadKey:
          break;
        case SignatureCheck::kUnavailable:
          unavailable = true;
          break;
      }
      if (valid) break;
    }
    if (valid) break;
  }
  if (!valid) {
    if (unavailable) return fail(IndexProblem::kNoCrypto, "the signature could not be checked");
    if (!usableKey) return fail(IndexProblem::kBadKey, "the key is no P-256 public key");
    return fail(IndexProblem::kBadSignature, publicKeys.size() > 1 || signatures.size() > 1
                                                 ? "no signature is one of the keys'"
                                                 : "the signature is not the key's");
  }
  std::string detail;
  if (!ParseIndexBody(body, &read.index, &detail)) return fail(IndexProblem::kMalformed, detail);
  return read;
}

}  // namespace ost
