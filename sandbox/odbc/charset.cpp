#include "charset.h"

#include <cerrno>

namespace ost {
namespace {

bool IsUtf8Name(const std::string& name) {
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  return upper.empty() || upper == "UTF-8" || upper == "UTF8";
}

// Converts all of input; a sequence that does not convert (or cannot be represented)
// costs one input byte, or one whole UTF-8 character when the input is UTF-8.
std::string Run(iconv_t cd, std::string_view input, bool inputIsUtf8) {
  std::string out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char block[4096];
  while (inLeft > 0) {
    char* next = block;
    size_t room = sizeof block;
    size_t rc = iconv(cd, &in, &inLeft, &next, &room);
    out.append(block, static_cast<size_t>(next - block));
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ, or EINVAL for a sequence cut off at the end.
    size_t skip = 1;
    if (inputIsUtf8) {
      while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
    }
    out += '?';
    in += skip;
    inLeft -= skip;
  }
  char* next = block;
  size_t room = sizeof block;
  iconv(cd, nullptr, nullptr, &next, &room);  // a shift state's closing bytes, if any
  out.append(block, static_cast<size_t>(next - block));
  return out;
}

}  // namespace

ClientCharset::~ClientCharset() { Close(); }

void ClientCharset::Close() {
  if (toUtf8_ != kNone) iconv_close(toUtf8_);
  if (fromUtf8_ != kNone) iconv_close(fromUtf8_);
  toUtf8_ = fromUtf8_ = kNone;
}

bool ClientCharset::Select(const std::string& name, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Close();
  if (IsUtf8Name(name)) return true;
  toUtf8_ = iconv_open("UTF-8", name.c_str());
  fromUtf8_ = iconv_open(name.c_str(), "UTF-8");
  if (toUtf8_ == kNone || fromUtf8_ == kNone) {
    Close();
    *error = "The character set '" + name + "' (ClientCharset) is not known.";
    return false;
  }
  return true;
}

std::string ClientCharset::ToUtf8(std::string_view client) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (toUtf8_ == kNone) return std::string(client);
  return Run(toUtf8_, client, false);
}

std::string ClientCharset::FromUtf8(std::string_view utf8) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fromUtf8_ == kNone) return std::string(utf8);
  return Run(fromUtf8_, utf8, true);
}

}  // namespace ost
