#include "ost-release/release_folder.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include <nlohmann/json.hpp>

#include "signing/signed_index.h"
#include "update/detail_file.h"
#include "update/manifest.h"
#include "update/service_table.h"
#include "update/sql_runner.h"
#include "util/text.h"

namespace ost::release {
namespace {

using nlohmann::json;

constexpr char kReleaseFile[] = "release.json";

class Problems {
 public:
  explicit Problems(std::vector<std::string>* errors) : errors_(errors) {}
  // A problem of a field of release.json.
  void Field(const std::string& field, const std::string& what) {
    errors_->push_back(std::string(kReleaseFile) + ": " + field + ": " + what);
  }
  // A problem of a file that a field names.
  void File(const std::string& field, const std::string& file, const std::string& what) {
    errors_->push_back(std::string(kReleaseFile) + ": " + field + " (" + file + "): " + what);
  }

 private:
  std::vector<std::string>* errors_;
};

// "3.82" to 382 (decimals up to `decimals`); false for anything else.
bool ParseVersion(const std::string& text, int decimals, int32_t* scaled) {
  int64_t whole = 0;
  size_t at = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    whole = whole * 10 + (text[at] - '0');
    if (whole > 100000) return false;
    ++at;
  }
  if (at == 0) return false;
  int64_t fraction = 0;
  int digits = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < decimals) {
      fraction = fraction * 10 + (text[at] - '0');
      ++digits;
      ++at;
    }
    if (digits == 0) return false;
  }
  if (at != text.size()) return false;
  for (; digits < decimals; ++digits) fraction *= 10;
  int64_t scale = decimals == 2 ? 100 : 10;
  *scaled = static_cast<int32_t>(whole * scale + fraction);
  return true;
}

// A manifest text: GBK, one line, within its byte width (terminator aside).
void CheckText(Problems& problems, const std::string& field, const std::string& text,
               size_t width) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      problems.Field(field, "holds a control character (a TAB or line end would cut the row)");
      return;
    }
  }
  const std::string gbk = Utf8ToGbk(text);
  if (GbkToUtf8(gbk) != text) {
    problems.Field(field, "holds characters that GBK cannot write");
    return;
  }
  if (gbk.size() > width - 1) {
    problems.Field(field, Format("is %zu bytes in GBK; the tool reads %zu", gbk.size(), width - 1));
  }
}

// A file's bytes, and the checks every package shares.
bool ReadSource(Problems& problems, const std::string& folder, const std::string& field,
                const json& value, std::string* file, std::string* content) {
  if (!value.is_string() || value.get<std::string>().empty()) {
    problems.Field(field, "must name a file of the release folder");
    return false;
  }
  *file = value.get<std::string>();
  if (file->front() == '/' || file->find("..") != std::string::npos) {
    problems.Field(field, "must name a file inside the release folder");
    return false;
  }
  if (!ReadWholeFile(folder + "/" + *file, content)) {
    problems.File(field, *file, "cannot be read");
    return false;
  }
  if (content->size() > kMaxUnpackedSize) {
    problems.File(
        field, *file,
        Format("is %zu bytes; the tool unpacks at most %zu", content->size(), kMaxUnpackedSize));
    return false;
  }
  const size_t packed = compressBound(content->size());
  if (packed > kMaxPackedSize) {
    // The bound is pessimistic; the builder measures the real package.
    uLongf size = packed;
    std::string out(packed, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(content->data()), content->size(), 9);
    if (size > kMaxPackedSize) {
      problems.File(field, *file,
                    Format("packs to %lu bytes; the tool receives at most %zu",
                           static_cast<unsigned long>(size), kMaxPackedSize));
      return false;
    }
  }
  return true;
}

void CheckKeys(Problems& problems, const std::string& field, const json& object,
               const std::set<std::string>& known) {
  for (auto& [name, value] : object.items()) {
    (void)value;
    if (!known.count(name)) problems.Field(field + name, "is no field of a release");
  }
}

void ReadScripts(Problems& problems, const std::string& folder, const json& scripts,
                 const char* which, int decimals, int32_t announced,
                 std::vector<ScriptSource>* out) {
  const std::string base = std::string("scripts.") + which;
  if (!scripts.contains(which)) return;
  const json& map = scripts[which];
  if (!map.is_object()) {
    problems.Field(base, "must map versions to script files");
    return;
  }
  for (auto& [versionText, value] : map.items()) {
    const std::string field = base + "." + versionText;
    ScriptSource script;
    if (!ParseVersion(versionText, decimals, &script.version)) {
      problems.Field(field, "is not a version");
      continue;
    }
    if (script.version > announced) {
      problems.Field(field, "is above the announced version; the tool never asks for it");
      continue;
    }
    if (!ReadSource(problems, folder, field, value, &script.file, &script.content)) continue;
    const std::string problem = ScriptProblem(script.content);
    if (!problem.empty()) {
      problems.File(field, script.file, problem);
      continue;
    }
    out->push_back(std::move(script));
  }
  std::sort(out->begin(), out->end(),
            [](const ScriptSource& a, const ScriptSource& b) { return a.version < b.version; });
  if (out->empty()) return;
  // Every step from the first script up to the announced version.
  std::set<int32_t> have;
  for (const ScriptSource& script : *out) have.insert(script.version);
  for (int32_t v = out->front().version; v <= announced; ++v) {
    if (!have.count(v)) {
      problems.Field(base, Format(decimals == 2 ? "has no script for the step to %.2f"
                                                : "has no script for the step to %.1f",
                                  decimals == 2 ? v / 100.0 : v / 10.0));
    }
  }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool VersionTexts(int32_t ostra, int32_t velin, std::string* ostraText, std::string* velinText) {
  // The tool reads Ostra from the header's first four characters.
  if (ostra < 1000) {
    *ostraText = Format("%.2f", ostra / 100.0);
  } else if (ostra % 10 == 0) {
    *ostraText = Format("%.1f", ostra / 100.0);
  } else {
    return false;
  }
  *velinText = Format("%.1f", velin / 10.0);
  return true;
}

std::string ScriptProblem(const std::string& script) {
  const size_t zero = script.find('\0');
  if (zero != std::string::npos) {
    return Format("holds a zero byte at offset %zu; the tool would stop reading there", zero);
  }
  std::string copy = script;
  int batches = CutSqlBatches(copy.data(), script.size(), [](const char*) { return true; });
  const size_t lastSeparator = script.rfind("GO\r\n");
  const size_t rest = lastSeparator == std::string::npos ? 0 : lastSeparator + 4;
  if (script.find_first_not_of("\r\n \t", rest) != std::string::npos) {
    return batches == 0 ? "has no \"GO\" line (GO and CR LF); the tool would run none of it"
                        : "its last batch has no \"GO\" line after it; the tool would drop it";
  }
  if (batches == 0) return "holds no batch";
  return {};
}

bool ReadReleaseFolder(const std::string& folder, ReleaseSource* source,
                       std::vector<std::string>* errors) {
  Problems problems(errors);
  source->folder = folder;
  std::string text;
  if (!ReadWholeFile(folder + "/" + kReleaseFile, &text)) {
    errors->push_back(folder + "/" + kReleaseFile + ": cannot be read");
    return false;
  }
  json doc = json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    errors->push_back(std::string(kReleaseFile) + ": is not a JSON object");
    return false;
  }
  CheckKeys(problems, "", doc, {"ostra", "velin", "components", "scripts", "details"});

  // The two versions.
  struct VersionField {
    const char* name;
    int decimals;
    int32_t limit;
    int32_t* out;
  };
  for (const VersionField& v :
       {VersionField{"ostra", 2, kMaxOstraVersion, &source->ostraVersion},
        VersionField{"velin", 1, kMaxVelinVersion, &source->velinVersion}}) {
    if (!doc.contains(v.name) || !doc[v.name].is_string()) {
      problems.Field(v.name, "must be the version as text (\"3.82\", \"7.1\")");
    } else if (!ParseVersion(doc[v.name].get<std::string>(), v.decimals, v.out)) {
      problems.Field(v.name, Format("is not a version with at most %d decimals", v.decimals));
    } else if (*v.out > v.limit) {
      problems.Field(v.name, v.decimals == 2 ? "is above 99.99, which names no release"
                                             : "is 30.0 or above, which names no release");
    }
  }
  if (errors->empty() && !VersionTexts(source->ostraVersion, source->velinVersion,
                                       &source->ostraText, &source->velinText)) {
    problems.Field("ostra",
                   "cannot be written in the four characters the tool reads (from 10.00 on, "
                   "only versions ending in 0)");
  }

  // The components, in catalogue order whatever the order of the file.
  const json empty = json::object();
  const json& components = doc.contains("components") ? doc["components"] : empty;
  if (!components.is_object()) problems.Field("components", "must be an object by component key");
  for (auto& [key, item] : components.is_object() ? components.items() : empty.items()) {
    if (!FindComponent(key)) {
      problems.Field("components." + key,
                     "is no component (Server, Agent, Velin, Message, OstData, Tuyom)");
    }
    (void)item;
  }
  for (const Component& component : kCatalogue) {
    if (!components.is_object() || !components.contains(component.key)) continue;
    const json& item = components[component.key];
    const std::string base = std::string("components.") + component.key;
    if (!item.is_object()) {
      problems.Field(base, "must be an object");
      continue;
    }
    CheckKeys(problems, base + ".", item, {"update", "label", "description", "file", "xFile"});
    ComponentSource out;
    out.component = &component;
    if (!item.contains("update") || !item["update"].is_number_integer() ||
        item["update"].get<int64_t>() < 1 || item["update"].get<int64_t>() > INT32_MAX) {
      problems.Field(base + ".update", "must be an update number from 1");
    } else {
      out.update = item["update"].get<int32_t>();
    }
    for (auto [name, member, width] :
         {std::tuple{"label", &out.label, kNameWidth},
          std::tuple{"description", &out.description, kDescriptionWidth}}) {
      if (!item.contains(name) || !item[name].is_string()) {
        problems.Field(base + "." + name, "must be a text");
        continue;
      }
      *member = item[name].get<std::string>();
      CheckText(problems, base + "." + name, *member, width);
    }
    bool read = ReadSource(problems, folder, base + ".file",
                           item.contains("file") ? item["file"] : json(), &out.file, &out.content);
    if (read && out.content.empty()) {
      problems.File(base + ".file", out.file, "is empty; the tool refuses an empty component");
    }
    if (item.contains("xFile")) {
      if (component.kind != kVelinKind) {
        problems.Field(base + ".xFile", "only the web DLL (Velin) has an x variant");
      } else if (ReadSource(problems, folder, base + ".xFile", item["xFile"], &out.xFile,
                            &out.xContent)) {
        out.hasXVariant = true;
        if (out.xContent.empty()) {
          problems.File(base + ".xFile", out.xFile,
                        "is empty; the tool refuses an empty component");
        }
      }
    }
    source->components.push_back(std::move(out));
  }

  // The scripts of every version step.
  const json& scripts = doc.contains("scripts") ? doc["scripts"] : empty;
  if (!scripts.is_object()) {
    problems.Field("scripts", "must be an object");
  } else {
    CheckKeys(problems, "scripts.", scripts, {"ostra", "velin"});
    ReadScripts(problems, folder, scripts, "ostra", 2, source->ostraVersion, &source->ostraScripts);
    ReadScripts(problems, folder, scripts, "velin", 1, source->velinVersion, &source->velinScripts);
  }

  // The detail files, each under a name the tool reads back as it is.
  const json& details = doc.contains("details") ? doc["details"] : empty;
  if (!details.is_object()) problems.Field("details", "must map file names to files");
  for (auto& [name, value] : details.is_object() ? details.items() : empty.items()) {
    const std::string field = "details." + name;
    DetailSource detail;
    detail.name = name;
    const std::string gbk = Utf8ToGbk(name);
    if (GbkToUtf8(gbk) != name) {
      problems.Field(field, "holds characters that GBK cannot write");
      continue;
    }
    if (name.find_first_of(" ?#%") != std::string::npos) {
      problems.Field(field, "holds a character that a request line cannot carry as it is");
      continue;
    }
    if (!ReadSource(problems, folder, field, value, &detail.file, &detail.content)) continue;
    // The line as the manifest will carry it, read as the tool reads it.
    const std::string line =
        gbk + ".zip+" + std::to_string(detail.content.size()) + "=" + std::string(32, '0');
    DetailLine parsed;
    const int result = ParseDetailLine(line, &parsed);
    if (result != 0 || parsed.name != name) {
      problems.Field(field, result == -6   ? "is no plain file name of the web folder"
                            : result == -1 ? "makes a detail line longer than 255 bytes"
                            : result == 0  ? "would be read as \"" + parsed.name + "\""
                                           : "cannot be read back from its detail line");
      continue;
    }
    source->details.push_back(std::move(detail));
  }
  return errors->empty();
}

}  // namespace ost::release
