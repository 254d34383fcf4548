// ost-release: the maker's command. Makes the signing key, builds a release folder
// into the update host's tree, signs it, and checks a published tree as the tool will.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "ost-release/builder.h"
#include "ost-release/release_folder.h"
#include "ost-release/signer.h"
#include "signing/signed_index.h"

namespace {

constexpr int kUsageError = 64;

const char kUsage[] =
    "usage: ost-release keygen KEYFILE\n"
    "       ost-release build SOURCE HOSTDIR [--key KEYFILE]... [--serial N] [--expires DAYS]\n"
    "       ost-release sign HOSTDIR --key KEYFILE [--key KEYFILE]... [--serial N]\n"
    "                        [--expires DAYS]\n"
    "       ost-release verify HOSTDIR --public KEY\n"
    "\n"
    "keygen writes a new ECDSA P-256 private key to KEYFILE (PEM, mode 0600; an existing\n"
    "  file is never overwritten) and prints its public key in the form of the registry\n"
    "  value UpdateKey, with a .reg snippet that sets it.\n"
    "build reads the release folder SOURCE (SOURCE/release.json and the files it names,\n"
    "  see docs/RELEASES.md), refuses whatever the update tool would misread, writes\n"
    "  server.txt and the packages into HOSTDIR/ostra/update1/ (empty or absent), and\n"
    "  reads them back through the tool's parsers. With --key it also writes server.sig,\n"
    "  the signed index, and verifies the tree.\n"
    "sign writes server.sig for HOSTDIR/ostra/update1/ as it stands, every file listed.\n"
    "  Up to three --key: each signs (a key rotation signs with the old and the new key).\n"
    "  --serial N: the index's serial (default: the signing time in UTC seconds); a server\n"
    "  refuses an index with a lower serial than the newest it applied.\n"
    "  --expires DAYS: the index expires DAYS days after signing (default 180, 0: at once).\n"
    "verify checks HOSTDIR/ostra/update1/ as the tool will with UpdateKey set to KEY (the\n"
    "  key's text, up to three separated by ';', or a file holding it); it warns when\n"
    "  the index expires within 30 days.\n"
    "Exit status: 0 done, 1 refused or failed, 64 usage error.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return kUsageError;
}

void Print(const ost::release::Report& report) {
  for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
  for (const std::string& warning : report.warnings) {
    std::fprintf(stderr, "warning: %s\n", warning.c_str());
  }
  for (const std::string& error : report.errors) std::fprintf(stderr, "error: %s\n", error.c_str());
}

std::unique_ptr<ost::release::SigningKey> LoadKey(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    std::fprintf(stderr, "warning: %s: others than its owner may read it (mode %03o); chmod 600\n",
                 path.c_str(), static_cast<unsigned>(info.st_mode & 0777));
  }
  std::string pem;
  if (!ost::release::ReadWholeFile(path, &pem)) {
    std::fprintf(stderr, "error: %s: cannot be read\n", path.c_str());
    return nullptr;
  }
  std::string error;
  auto key = ost::release::SigningKey::FromPem(pem, &error);
  if (!key) std::fprintf(stderr, "error: %s: %s\n", path.c_str(), error.c_str());
  return key;
}

int Keygen(const std::string& path) {
  auto key = ost::release::SigningKey::Generate();
  const std::string pem = key ? key->Pem() : std::string();
  if (pem.empty()) {
    std::fprintf(stderr, "error: no key could be made\n");
    return 1;
  }
  // Created for its owner alone; an existing key is never replaced by accident.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "error: %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  const bool written = write(fd, pem.data(), pem.size()) == static_cast<ssize_t>(pem.size());
  if (close(fd) != 0 || !written) {
    std::fprintf(stderr, "error: %s: cannot be written\n", path.c_str());
    unlink(path.c_str());
    return 1;
  }
  const std::vector<uint8_t> point = key->PublicPoint();
  const std::string text = ost::PublicKeyText({point.data(), point.size()});
  std::printf(
      "private key: %s (keep it secret)\n"
      "public key, the registry value UpdateKey:\n%s\n"
      "\n"
      "; Import with \"reg import FILE /reg:32\": the product's 32-bit setup keeps its key\n"
      "; in the 32-bit view of the registry.\n"
      "REGEDIT4\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA]\n"
      "\"UpdateKey\"=\"%s\"\n",
      path.c_str(), text.c_str(), text.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  if (args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // Options after the operands.
  std::vector<std::string> keyFiles;
  std::string publicKey;
  std::vector<std::string> operands;
  ost::release::Signing signing;
  signing.now = static_cast<int64_t>(time(nullptr));
  bool signingOptions = false;
  auto number = [](const std::string& text, uint64_t limit, uint64_t* value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    *value = std::stoull(text);
    return *value <= limit;
  };
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--key" && i + 1 < args.size()) {
      keyFiles.push_back(args[++i]);
    } else if (args[i] == "--serial" && i + 1 < args.size()) {
      if (!number(args[++i], ost::kMaxSerial, &signing.serial) || signing.serial == 0) {
        return Usage();
      }
      signingOptions = true;
    } else if (args[i] == "--expires" && i + 1 < args.size()) {
      if (!number(args[++i], 36500, &signing.expiresDays)) return Usage();
      signingOptions = true;
    } else if (args[i] == "--public" && i + 1 < args.size()) {
      publicKey = args[++i];
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage();
    } else {
      operands.push_back(args[i]);
    }
  }
  const std::string& command = args[0];
  ost::release::Report report;
  if (command == "keygen") {
    if (operands.size() != 1 || !keyFiles.empty() || !publicKey.empty() || signingOptions) {
      return Usage();
    }
    return Keygen(operands[0]);
  }
  if (keyFiles.size() > ost::kMaxUpdateKeys) return Usage();
  std::vector<std::unique_ptr<ost::release::SigningKey>> keys;
  for (const std::string& keyFile : keyFiles) {
    keys.push_back(LoadKey(keyFile));
    if (!keys.back()) return 1;
    signing.keys.push_back(keys.back().get());
  }
  if (command == "build") {
    if (operands.size() != 2 || !publicKey.empty() || (keys.empty() && signingOptions)) {
      return Usage();
    }
    ost::release::ReleaseSource source;
    if (!ost::release::ReadReleaseFolder(operands[0], &source, &report.errors)) {
      report.errors.push_back("nothing was written");
      Print(report);
      return 1;
    }
    const bool built =
        ost::release::BuildRelease(source, operands[1], keys.empty() ? nullptr : &signing, &report);
    Print(report);
    return built ? 0 : 1;
  }
  if (command == "sign") {
    if (operands.size() != 1 || keys.empty() || !publicKey.empty()) return Usage();
    const bool signedOk = ost::release::SignHostTree(operands[0], signing, &report);
    Print(report);
    return signedOk ? 0 : 1;
  }
  if (command == "verify") {
    if (operands.size() != 1 || publicKey.empty() || !keyFiles.empty() || signingOptions) {
      return Usage();
    }
    std::string text = publicKey;
    if (text.rfind(ost::kPublicKeyPrefix, 0) != 0 &&
        !ost::release::ReadWholeFile(publicKey, &text)) {
      std::fprintf(stderr, "error: %s: neither a key nor a file holding one\n", publicKey.c_str());
      return 1;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::vector<std::vector<uint8_t>> points;
    if (!ost::ParsePublicKeyList(text, &points)) {
      std::fprintf(stderr,
                   "error: --public: no key of the form %s<130 hex digits>, or more than %zu\n",
                   ost::kPublicKeyPrefix, ost::kMaxUpdateKeys);
      return 1;
    }
    const bool verified = ost::release::VerifyHostTree(operands[0], text, signing.now, &report);
    Print(report);
    return verified ? 0 : 1;
  }
  return Usage();
}
