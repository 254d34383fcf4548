#include "ost-release/manifest_writer.h"

#include <zlib.h>

#include "util/text.h"

namespace ost::release {

std::string WriteManifest(const ManifestText& manifest) {
  // The entry block's lines end in LF, the detail block's in CR LF, as the tool reads
  // them.
  std::string text = manifest.ostraVersion + " " + manifest.velinVersion + "\n--BEGIN--\n";
  for (const ManifestRowText& row : manifest.rows) {
    text += std::to_string(row.version) + "\t" + row.key + "\t" + Utf8ToGbk(row.label) + "\t" +
            Utf8ToGbk(row.description) + "\n";
  }
  text += "--END--\n";
  if (!manifest.details.empty()) {
    text += "--FILE DETAIL--\r\n";
    for (const DetailLineText& detail : manifest.details) {
      text += Utf8ToGbk(detail.name) + ".zip+" + std::to_string(detail.size) + "=" + detail.md5 +
              "\r\n";
    }
    text += "--FILE DETAIL END--\r\n";
  }
  return text;
}

std::string ComponentPackagePath(const Component& component, bool xVariant) {
  return std::string(component.fileName) + (xVariant ? "x.zip" : ".zip");
}

std::string OstraScriptPath(int32_t version) {
  return "sql/update" + std::to_string(version) + ".sql.zip";
}

std::string VelinScriptPath(int32_t version) {
  return "sql/v" + std::to_string(version) + ".sql.zip";
}

std::string DetailPackagePath(const std::string& utf8Name) { return Utf8ToGbk(utf8Name) + ".zip"; }

std::string CompressPackage(const std::string& data, int level) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size,
            reinterpret_cast<const Bytef*>(data.data()), data.size(), level);
  out.resize(size);
  return out;
}

}  // namespace ost::release
