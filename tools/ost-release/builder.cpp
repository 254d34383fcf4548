#include "ost-release/builder.h"

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "ost-release/manifest_writer.h"
#include "ost-release/transaction_lint.h"
#include "platform/posix/openssl_crypto.h"
#include "signing/signed_index.h"
#include "update/detail_file.h"
#include "update/manifest.h"
#include "update/release_check.h"
#include "util/md5.h"
#include "util/text.h"

namespace ost::release {
namespace {

namespace fs = std::filesystem;

struct Package {
  std::string path;  // below the update folder
  std::string content;
  std::string packed;
  std::string source;  // the field and file it came from, for messages
};

std::string UpdateFolder(const std::string& hostDir) {
  return hostDir + "/" + std::string(kUpdatePath).substr(1);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

// Every file of the tree, by its path below the update folder.
std::vector<std::string> TreeFiles(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file()) {
      files.push_back(fs::relative(it->path(), folder).generic_string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

IndexEntry EntryOf(CryptoPort& crypto, const std::string& path, const std::string& bytes) {
  IndexEntry entry;
  entry.path = path;
  entry.size = bytes.size();
  crypto.Sha256(ByteSpan::Of(bytes), &entry.digest);
  return entry;
}

// The keys' public halves in UpdateKey's form, for the check after signing.
std::string KeyListText(const Signing& signing) {
  std::string text;
  for (const SigningKey* key : signing.keys) {
    const std::vector<uint8_t> point = key->PublicPoint();
    if (!text.empty()) text += kKeySeparator;
    text += PublicKeyText({point.data(), point.size()});
  }
  return text;
}

bool WriteIndex(const std::string& folder, int32_t ostra, int32_t velin,
                const std::vector<std::string>& files, const Signing& signing, Report* report) {
  OpenSslCrypto crypto;
  ReleaseIndex index;
  index.ostraVersion = ostra;
  index.velinVersion = velin;
  index.serial = signing.serial != 0 ? signing.serial : static_cast<uint64_t>(signing.now);
  index.expires = static_cast<uint64_t>(signing.now) + signing.expiresDays * 86400;
  if (signing.keys.empty() || signing.keys.size() > kMaxUpdateKeys) {
    report->errors.push_back(Format("%s: one to %zu keys sign it", kIndexName, kMaxUpdateKeys));
    return false;
  }
  if (index.serial == 0 || index.serial > kMaxSerial || index.expires > kMaxSerial) {
    report->errors.push_back(std::string(kIndexName) + ": the serial or expiry does not fit");
    return false;
  }
  for (const std::string& path : files) {
    if (path == kIndexName) continue;
    std::string bytes;
    if (!ReadWholeFile(folder + "/" + path, &bytes)) {
      report->errors.push_back(path + ": cannot be read");
      return false;
    }
    index.files.push_back(EntryOf(crypto, path, bytes));
  }
  const std::string body = IndexBody(index);
  ReleaseIndex check;
  std::string detail;
  if (!ParseIndexBody(body, &check, &detail)) {
    report->errors.push_back(std::string(kIndexName) + ": " + detail +
                             " (a path the index cannot carry)");
    return false;
  }
  Sha256Digest digest;
  crypto.Sha256(ByteSpan::Of(body), &digest);
  std::vector<std::vector<uint8_t>> signatures;
  for (const SigningKey* key : signing.keys) {
    signatures.push_back(key->Sign(digest));
    if (signatures.back().empty()) {
      report->errors.push_back(std::string(kIndexName) + ": a key could not sign");
      return false;
    }
  }
  if (!WriteWholeFile(folder + "/" + kIndexName, SignedIndexText(body, signatures))) {
    report->errors.push_back(std::string(kIndexName) + ": cannot be written");
    return false;
  }
  report->lines.push_back(
      Format("%s: %zu files signed by %zu key(s), serial %llu, expires %s", kIndexName,
             index.files.size(), signing.keys.size(), static_cast<unsigned long long>(index.serial),
             ReleaseCheck::UtcText(static_cast<int64_t>(index.expires)).c_str()));
  return true;
}

// The manifest as the tool reads it, against the release it was written from.
void ReadBack(const ReleaseSource& source, const std::string& manifestBytes, Report* report) {
  auto differs = [&](const std::string& what) {
    report->errors.push_back("server.txt: the tool would read " + what);
  };
  const Manifest manifest = ParseManifest(manifestBytes);
  if (!manifest.ostraVersionUsable || manifest.ostraVersion != source.ostraVersion) {
    differs("another Ostra version");
  }
  if (!manifest.velinVersionUsable || manifest.velinVersion != source.velinVersion) {
    differs("another Velin version");
  }
  if (!manifest.hasEntryBlock || manifest.rows.size() != std::size(kCatalogue)) {
    differs("another entry block");
    return;
  }
  for (size_t n = 0; n < manifest.rows.size(); ++n) {
    const ManifestRow& row = manifest.rows[n];
    const Component& component = kCatalogue[n];
    const ComponentSource* described = nullptr;
    for (const ComponentSource& c : source.components) {
      if (c.component == &component) described = &c;
    }
    const std::string field = std::string("components.") + component.key;
    if (row.end != RowEnd::kComplete || row.component != &component) {
      differs("row " + std::to_string(n + 1) + " as another component");
      continue;
    }
    if (row.version != (described ? described->update : 0)) differs(field + ".update otherwise");
    if (described && row.versionLabel != described->label) differs(field + ".label otherwise");
    if (described && row.description != described->description) {
      differs(field + ".description otherwise");
    }
  }
  if (manifest.detailLines.size() != source.details.size()) {
    differs(
        Format("%zu detail lines, not %zu", manifest.detailLines.size(), source.details.size()));
    return;
  }
  for (size_t n = 0; n < source.details.size(); ++n) {
    DetailLine parsed;
    char md5[33];
    Md5Hex(source.details[n].content.data(), source.details[n].content.size(), md5);
    if (ParseDetailLine(manifest.detailLines[n], &parsed) != 0 ||
        parsed.name != source.details[n].name || parsed.digest != md5) {
      differs("details." + source.details[n].name + " otherwise");
    }
  }
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A package's bytes unpacked as the tool unpacks them; false when they do not.
bool Unpack(const std::string& packed, std::string* content) {
  std::vector<uint8_t> unpacked(kMaxUnpackedSize + 1);
  uLongf size = kMaxUnpackedSize;
  if (packed.size() > kMaxPackedSize ||
      uncompress(unpacked.data(), &size, reinterpret_cast<const Bytef*>(packed.data()),
                 packed.size()) != Z_OK) {
    return false;
  }
  content->assign(reinterpret_cast<const char*>(unpacked.data()), size);
  return true;
}

// The version a script package's path names ("sql/update382.sql.zip", "sql/v71.sql.zip"),
// or -1.
int32_t ScriptVersion(const std::string& path, const std::string& prefix) {
  const std::string suffix = ".sql.zip";
  if (path.size() <= prefix.size() + suffix.size() || path.compare(0, prefix.size(), prefix) != 0 ||
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return -1;
  }
  const std::string digits =
      path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
  if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos ||
      (digits.size() > 1 && digits[0] == '0')) {
    return -1;
  }
  return std::stoi(digits);
}

// What build checks of a tree, on the tree as it stands: every package unpacks (a
// component to something, a detail file to the bytes its line describes, a script to
// one the tool runs whole), the scripts of every version step up to the announced one
// are there and none above it, every package the manifest names is there, and nothing
// is there that the tool would never ask for.
void CheckTree(const std::string& folder, const std::string& manifestBytes,
               const std::vector<std::string>& onDisk, Report* report) {
  const Manifest manifest = ParseManifest(manifestBytes);
  std::set<std::string> components;
  for (const ManifestRow& row : manifest.rows) {
    if (!row.component || row.version <= 0) continue;
    components.insert(ComponentPackagePath(*row.component, false));
    if (row.component->kind == kVelinKind) {
      components.insert(ComponentPackagePath(*row.component, true));
    }
  }
  std::map<std::string, std::string> details;  // package path -> MD5
  for (const std::string& line : manifest.detailLines) {
    DetailLine parsed;
    if (ParseDetailLine(line, &parsed) == 0)
      details[DetailPackagePath(parsed.name)] = parsed.digest;
  }
  std::set<int32_t> ostraScripts;
  std::set<int32_t> velinScripts;
  for (const std::string& path : onDisk) {
    if (path == kIndexName || path == kManifestName) continue;
    std::string packed;
    std::string content;
    const bool read = ReadWholeFile(folder + "/" + path, &packed);
    const bool unpacks = read && Unpack(packed, &content);
    const int32_t ostra = ScriptVersion(path, "sql/update");
    const int32_t velin = ScriptVersion(path, "sql/v");
    const auto detail = details.find(path);
    if (components.count(path)) {
      if (!unpacks || content.empty()) report->errors.push_back(path + ": does not unpack");
    } else if (detail != details.end()) {
      char md5[33];
      Md5Hex(content.data(), content.size(), md5);
      if (!unpacks) {
        report->errors.push_back(path + ": does not unpack");
      } else if (Lower(detail->second) != md5) {
        report->errors.push_back(path + ": unpacks to other bytes than its detail line's MD5");
      }
    } else if (ostra >= 0 || velin >= 0) {
      const bool isOstra = ostra >= 0;
      const int32_t announced = isOstra ? manifest.ostraVersion : manifest.velinVersion;
      (isOstra ? ostraScripts : velinScripts).insert(isOstra ? ostra : velin);
      if ((isOstra ? ostra : velin) > announced) {
        report->errors.push_back(path +
                                 ": above the announced version; the tool never asks for it");
      } else if (!unpacks) {
        report->errors.push_back(path + ": does not unpack");
      } else if (const std::string problem = ScriptProblem(content); !problem.empty()) {
        report->errors.push_back(path + ": " + problem);
      }
    } else {
      report->errors.push_back(path + ": the tool never asks for it (not named by the manifest)");
    }
  }
  for (const std::string& path : components) {
    const bool xVariant = path.size() > 5 && path.compare(path.size() - 5, 5, "x.zip") == 0;
    if (!xVariant && !std::binary_search(onDisk.begin(), onDisk.end(), path)) {
      report->errors.push_back(path + ": named by the manifest, missing");
    }
  }
  for (const auto& [path, md5] : details) {
    if (!std::binary_search(onDisk.begin(), onDisk.end(), path)) {
      report->errors.push_back(path + ": named by the manifest, missing");
    }
  }
  // Every step from the first script up to the announced version.
  for (const bool isOstra : {true, false}) {
    const std::set<int32_t>& have = isOstra ? ostraScripts : velinScripts;
    const int32_t announced = isOstra ? manifest.ostraVersion : manifest.velinVersion;
    if (have.empty()) continue;
    for (int32_t v = *have.begin(); v <= announced; ++v) {
      if (!have.count(v)) {
        report->errors.push_back((isOstra ? OstraScriptPath(v) : VelinScriptPath(v)) +
                                 ": missing; the tool runs every step up to the announced version");
      }
    }
  }
}

}  // namespace

bool BuildRelease(const ReleaseSource& source, const std::string& hostDir, const Signing* signing,
                  Report* report) {
  const std::string folder = UpdateFolder(hostDir);
  if (!TreeFiles(folder).empty()) {
    report->errors.push_back(folder + ": holds files already; build into an empty folder");
    return false;
  }

  // The packages, named as the tool requests them.
  std::vector<Package> packages;
  ManifestText manifest;
  manifest.ostraVersion = source.ostraText;
  manifest.velinVersion = source.velinText;
  for (const Component& component : kCatalogue) {
    const ComponentSource* described = nullptr;
    for (const ComponentSource& c : source.components) {
      if (c.component == &component) described = &c;
    }
    if (!described) {
      // Update 0 is never newer than what is installed.
      manifest.rows.push_back({0, component.key, "", ""});
      continue;
    }
    manifest.rows.push_back(
        {described->update, component.key, described->label, described->description});
    const std::string field = std::string("components.") + component.key;
    packages.push_back({ComponentPackagePath(component, false),
                        described->content,
                        {},
                        field + ".file (" + described->file + ")"});
    if (described->hasXVariant) {
      packages.push_back({ComponentPackagePath(component, true),
                          described->xContent,
                          {},
                          field + ".xFile (" + described->xFile + ")"});
    } else if (component.kind == kVelinKind) {
      report->lines.push_back("note: no xFile for Velin: servers with libxl.dll request " +
                              ComponentPackagePath(component, true) +
                              " and stop at the web DLL's row");
    }
  }
  // Not refused: a server without ScriptTransaction runs such a script as before.
  for (const auto* scripts : {&source.ostraScripts, &source.velinScripts}) {
    for (const ScriptSource& script : *scripts) {
      for (const std::string& statement : StatementsRefusedInTransaction(script.content)) {
        report->lines.push_back("warning: " + script.file + ": " + statement +
                                " cannot run inside a transaction: with ScriptTransaction = 1 "
                                "the server refuses this script");
      }
    }
  }
  for (const ScriptSource& script : source.ostraScripts) {
    packages.push_back({OstraScriptPath(script.version),
                        script.content,
                        {},
                        "scripts.ostra (" + script.file + ")"});
  }
  for (const ScriptSource& script : source.velinScripts) {
    packages.push_back({VelinScriptPath(script.version),
                        script.content,
                        {},
                        "scripts.velin (" + script.file + ")"});
  }
  for (const DetailSource& detail : source.details) {
    char md5[33];
    Md5Hex(detail.content.data(), detail.content.size(), md5);
    manifest.details.push_back({detail.name, detail.content.size(), md5});
    packages.push_back({DetailPackagePath(detail.name),
                        detail.content,
                        {},
                        "details." + detail.name + " (" + detail.file + ")"});
  }
  for (Package& package : packages) {
    package.packed = CompressPackage(package.content, Z_BEST_COMPRESSION);
    if (package.packed.size() > kMaxPackedSize) {
      report->errors.push_back(
          Format("release.json: %s: packs to %zu bytes; the tool receives "
                 "at most %zu",
                 package.source.c_str(), package.packed.size(), kMaxPackedSize));
    }
  }
  const std::string manifestBytes = WriteManifest(manifest);
  ReadBack(source, manifestBytes, report);
  if (!report->errors.empty()) return false;

  // Written, then read back from the disk as the host will serve them.
  std::error_code error;
  fs::create_directories(folder + "/sql", error);
  if (error) {
    report->errors.push_back(folder + ": cannot be created: " + error.message());
    return false;
  }
  if (!WriteWholeFile(folder + "/" + kManifestName, manifestBytes)) {
    report->errors.push_back(std::string(kManifestName) + ": cannot be written");
    return false;
  }
  for (const Package& package : packages) {
    if (!WriteWholeFile(folder + "/" + package.path, package.packed)) {
      report->errors.push_back(package.path + ": cannot be written");
      return false;
    }
  }
  std::string written;
  if (!ReadWholeFile(folder + "/" + kManifestName, &written) || written != manifestBytes) {
    report->errors.push_back(std::string(kManifestName) + ": does not read back as written");
  }
  std::vector<uint8_t> unpacked(kMaxUnpackedSize + 1);
  for (const Package& package : packages) {
    std::string packed;
    uLongf size = kMaxUnpackedSize;
    if (!ReadWholeFile(folder + "/" + package.path, &packed) ||
        uncompress(unpacked.data(), &size, reinterpret_cast<const Bytef*>(packed.data()),
                   packed.size()) != Z_OK ||
        std::string(reinterpret_cast<const char*>(unpacked.data()), size) != package.content) {
      report->errors.push_back(package.path + ": does not unpack to " + package.source);
      continue;
    }
    report->lines.push_back(Format("%s: %zu bytes, %zu packed", package.path.c_str(),
                                   package.content.size(), package.packed.size()));
  }
  if (!report->errors.empty()) return false;
  report->lines.push_back(Format("%s: Ostra %s, Velin %s, %zu components, %zu detail files",
                                 kManifestName, source.ostraText.c_str(), source.velinText.c_str(),
                                 source.components.size(), source.details.size()));
  if (!signing) return true;

  if (!WriteIndex(folder, source.ostraVersion, source.velinVersion, TreeFiles(folder), *signing,
                  report)) {
    return false;
  }
  return VerifyHostTree(hostDir, KeyListText(*signing), signing->now, report);
}

bool SignHostTree(const std::string& hostDir, const Signing& signing, Report* report) {
  const std::string folder = UpdateFolder(hostDir);
  std::string manifestBytes;
  if (!ReadWholeFile(folder + "/" + kManifestName, &manifestBytes)) {
    report->errors.push_back(folder + "/" + kManifestName + ": cannot be read");
    return false;
  }
  const Manifest manifest = ParseManifest(manifestBytes);
  if (!manifest.ostraVersionUsable || !manifest.velinVersionUsable) {
    report->errors.push_back(std::string(kManifestName) + ": the tool reads no usable versions");
    return false;
  }
  if (!WriteIndex(folder, manifest.ostraVersion, manifest.velinVersion, TreeFiles(folder), signing,
                  report)) {
    return false;
  }
  return VerifyHostTree(hostDir, KeyListText(signing), signing.now, report);
}

bool VerifyHostTree(const std::string& hostDir, const std::string& keyText, int64_t now,
                    Report* report) {
  const std::string folder = UpdateFolder(hostDir);
  OpenSslCrypto crypto;
  ReleaseCheck check(&crypto, keyText, 0, now);
  if (!check.KeyUsable()) {
    report->errors.push_back(
        Format("the key: no key of the form %s<130 hex digits>, or more than %zu", kPublicKeyPrefix,
               kMaxUpdateKeys));
    return false;
  }
  std::string manifestBytes;
  std::string indexBytes;
  if (!ReadWholeFile(folder + "/" + kManifestName, &manifestBytes)) {
    report->errors.push_back(std::string(kManifestName) + ": missing");
    return false;
  }
  if (!ReadWholeFile(folder + "/" + kIndexName, &indexBytes)) {
    report->errors.push_back(std::string(kIndexName) + ": missing");
    return false;
  }
  // The tool's own check, on the bytes it would receive.
  check.KeepManifest(ByteSpan::Of(manifestBytes));
  std::vector<ReleaseVerification> verifications;
  check.CheckIndex(ByteSpan::Of(indexBytes), &verifications);
  for (const ReleaseVerification& v : verifications) {
    if (v.failure != ReleaseFailure::kNone) {
      report->errors.push_back(v.file + ": " + ReleaseFailureName(v.failure) +
                               (v.detail.empty() ? "" : " (" + v.detail + ")"));
    }
  }
  if (!report->errors.empty()) return false;
  const ReleaseIndex& index = *check.index();
  if (index.format == 1) {
    report->warnings.push_back(std::string(kIndexName) +
                               ": the first format, without serial and expiry; a server that "
                               "applied a release with a serial refuses it");
  } else if (static_cast<int64_t>(index.expires) - now < kExpiryWarningDays * 86400) {
    report->warnings.push_back(
        Format("%s: expires %s, within %lld days: sign it again", kIndexName,
               ReleaseCheck::UtcText(static_cast<int64_t>(index.expires)).c_str(),
               static_cast<long long>(kExpiryWarningDays)));
  }

  std::set<std::string> onDisk;
  for (const std::string& path : TreeFiles(folder)) {
    onDisk.insert(path);
    if (path == kIndexName || path == kManifestName) continue;
    std::string bytes;
    ReadWholeFile(folder + "/" + path, &bytes);
    ReleaseVerification v = check.CheckPackage(kUpdatePath + path, ByteSpan::Of(bytes));
    if (v.failure != ReleaseFailure::kNone) {
      report->errors.push_back(path + ": " + ReleaseFailureName(v.failure) + " (" + v.detail +
                               "); the tool will refuse it");
    }
  }
  for (const IndexEntry& entry : check.index()->files) {
    if (!onDisk.count(entry.path)) report->errors.push_back(entry.path + ": listed, missing");
  }
  // What build checks, on the tree as it stands.
  CheckTree(folder, manifestBytes, std::vector<std::string>(onDisk.begin(), onDisk.end()), report);
  if (!report->errors.empty()) return false;
  report->lines.push_back(
      Format("verified: %s, %s and %zu packages", kIndexName, kManifestName, onDisk.size() - 2));
  return true;
}

}  // namespace ost::release
