#include "platform/posix/reg_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/posix/posix_registry.h"

namespace ost {
namespace {

constexpr RegistryRoot kHklm = RegistryRoot::kLocalMachine;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// The bytes of a REG_SZ: the text and its terminating zero.
std::vector<uint8_t> Sz(std::string_view text) {
  std::vector<uint8_t> data = Bytes(text);
  data.push_back(0);
  return data;
}

RegDocument ParseOk(std::string_view text) {
  RegDocument doc;
  std::string error;
  EXPECT_TRUE(ParseRegFile(text, "registry.reg", &doc, &error)) << error;
  return doc;
}

const RegValue* FindValue(const RegDocument& doc, std::string_view path, std::string_view name,
                          RegistryRoot root = kHklm) {
  const RegKeyData* key = doc.FindKey(root, path);
  return key ? key->FindValue(name) : nullptr;
}

void ExpectSameDocument(const RegDocument& expected, const RegDocument& actual) {
  ASSERT_EQ(expected.keys.size(), actual.keys.size());
  for (size_t k = 0; k < expected.keys.size(); ++k) {
    const RegKeyData& a = expected.keys[k];
    const RegKeyData& b = actual.keys[k];
    EXPECT_EQ(a.root, b.root);
    EXPECT_EQ(a.path, b.path);
    ASSERT_EQ(a.values.size(), b.values.size()) << a.path;
    for (size_t v = 0; v < a.values.size(); ++v) {
      EXPECT_EQ(a.values[v].name, b.values[v].name) << a.path;
      EXPECT_EQ(a.values[v].type, b.values[v].type) << a.values[v].name;
      EXPECT_EQ(a.values[v].data, b.values[v].data) << a.values[v].name;
    }
  }
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// --- Reading ---

TEST(RegFileParseTest, ReadsEveryValueForm) {
  RegDocument doc = ParseOk(
      "REGEDIT4\n"
      "\n"
      "; the product\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA]\n"
      "@=\"default\"\n"
      "\"Path\"=\"D:\\\\wwwroot\\\\cgi-bin\"\n"
      "\"Port\"=dword:0000059a\n"
      "\"Key\"=hex:a5,3B,00,ff\n"
      "\"Expand\"=hex(2):25,41,25,00\n"
      "\"Multi\"=hex(7):61,00,62,00,00\n"
      "\"Big\"=hex(b):01,02,03,04,05,06,07,08\n"
      "\"Empty\"=hex:\n"
      "\"Blank\"=\"\"\n");
  const char* path = "SOFTWARE\\OSTRA";
  struct Expected {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  const Expected expected[] = {
      {"", kRegSz, Sz("default")},
      {"Path", kRegSz, Sz("D:\\wwwroot\\cgi-bin")},
      {"Port", kRegDword, {0x9a, 0x05, 0x00, 0x00}},
      {"Key", kRegBinary, {0xa5, 0x3b, 0x00, 0xff}},
      {"Expand", kRegExpandSz, {0x25, 0x41, 0x25, 0x00}},
      {"Multi", kRegMultiSz, {0x61, 0x00, 0x62, 0x00, 0x00}},
      {"Big", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"Empty", kRegBinary, {}},
      {"Blank", kRegSz, {0}},
  };
  for (const Expected& e : expected) {
    const RegValue* value = FindValue(doc, path, e.name);
    ASSERT_NE(value, nullptr) << e.name;
    EXPECT_EQ(value->type, e.type) << e.name;
    EXPECT_EQ(value->data, e.data) << e.name;
  }
}

TEST(RegFileParseTest, JoinsContinuedHexLinesAndKeepsLineNumbers) {
  const std::string text =
      "REGEDIT4\r\n"
      "[HKLM\\A]\r\n"
      "\"Blob\"=hex:01,02,\\\r\n"
      "  03,04,\\\r\n"
      "\t 05 \r\n"
      "\"After\"=dword:00000007\r\n";
  RegDocument doc = ParseOk(text);
  const RegValue* blob = FindValue(doc, "A", "Blob");
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(blob->data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  const RegValue* after = FindValue(doc, "A", "After");
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->data, (std::vector<uint8_t>{7, 0, 0, 0}));

  // An error after a continued value still names its own line.
  std::string error;
  EXPECT_FALSE(ParseRegFile(text + "\"Bad\"=dword:1\r\n", "registry.reg", &doc, &error));
  EXPECT_EQ(error.rfind("registry.reg:7:", 0), 0u) << error;
}

TEST(RegFileParseTest, AcceptsBomVersion5HeaderAndMixedLineEnds) {
  RegDocument doc = ParseOk(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\X]\n"
      "\"A\"=\"1\"\r\n"
      "\"B\"=\"2\"");
  const RegValue* a = FindValue(doc, "X", "A", RegistryRoot::kCurrentUser);
  const RegValue* b = FindValue(doc, "X", "B", RegistryRoot::kCurrentUser);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->data, Sz("1"));  // no CR left in the value
  EXPECT_EQ(b->data, Sz("2"));
}

TEST(RegFileParseTest, UnescapesQuotesAndBackslashes) {
  RegDocument doc = ParseOk(
      "REGEDIT4\n"
      "[HKLM\\A]\n"
      "\"Say \\\"hi\\\"\"=\"a\\\\b\\\"c ; not a comment\"\n");
  const RegValue* value = FindValue(doc, "A", "Say \"hi\"");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->data, Sz("a\\b\"c ; not a comment"));
}

TEST(RegFileParseTest, KeepsGbkCharactersWhole) {
  // 0x81 0x5C is one GBK character; its second byte is not an escape.
  RegDocument doc = ParseOk(
      "REGEDIT4\n"
      "[HKLM\\\xB2\xE2\xCA\xD4\\\x81\x5C]\n"
      "\"\x81\x61\"=\"\x81\x5C\"\n"
      "\"\x81\x41\"=\"x\"\n");
  const RegKeyData* key = doc.FindKey(kHklm, "\xB2\xE2\xCA\xD4\\\x81\x5C");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->path, "\xB2\xE2\xCA\xD4\\\x81\x5C");
  // The trail bytes 0x61 and 0x41 are not letters: two different names.
  ASSERT_EQ(key->values.size(), 2u);
  EXPECT_EQ(key->FindValue("\x81\x61")->data, Sz("\x81\x5C"));
  EXPECT_EQ(key->FindValue("\x81\x41")->data, Sz("x"));
}

TEST(RegFileParseTest, MatchesKeysAndNamesIgnoringCase) {
  RegDocument doc = ParseOk(
      "REGEDIT4\n"
      "[HKLM\\Software\\Ostra]\n"
      "\"Port\"=dword:00000001\n"
      "\"Other\"=\"o\"\n"
      "[hkey_local_machine\\SOFTWARE\\OSTRA]\n"
      "\"PORT\"=dword:00000002\n"
      "\"New\"=\"n\"\n");
  ASSERT_EQ(doc.keys.size(), 1u);
  const RegKeyData& key = doc.keys[0];
  EXPECT_EQ(key.path, "Software\\Ostra");  // first spelling kept
  ASSERT_EQ(key.values.size(), 3u);
  EXPECT_EQ(key.values[0].name, "Port");
  EXPECT_EQ(key.values[0].data, (std::vector<uint8_t>{2, 0, 0, 0}));
  EXPECT_EQ(doc.FindKey(kHklm, "\\software\\OSTRA\\"), &key);
  EXPECT_EQ(doc.FindKey(kHklm, "software"), nullptr);
  EXPECT_EQ(doc.FindKey(RegistryRoot::kCurrentUser, "software\\ostra"), nullptr);
}

TEST(RegFileParseTest, ReadsShortAndLongRootNames) {
  RegDocument doc = ParseOk(
      "REGEDIT4\n[HKCU\\K]\n[HKCR\\K]\n[HKU\\K]\n[HKCC\\K]\n[HKEY_USERS\\L]\n"
      "[HKEY_CLASSES_ROOT]\n");
  for (RegistryRoot root : {RegistryRoot::kCurrentUser, RegistryRoot::kClassesRoot,
                            RegistryRoot::kUsers, RegistryRoot::kCurrentConfig}) {
    EXPECT_NE(doc.FindKey(root, "K"), nullptr) << RegistryRootName(root);
  }
  EXPECT_EQ(doc.FindKey(kHklm, "K"), nullptr);
  EXPECT_NE(doc.FindKey(RegistryRoot::kUsers, "L"), nullptr);
  EXPECT_NE(doc.FindKey(RegistryRoot::kClassesRoot, ""), nullptr);
}

TEST(RegFileParseTest, DeletesKeysWithSubkeysAndValues) {
  RegDocument doc = ParseOk(
      "REGEDIT4\n"
      "[HKLM\\A]\n\"x\"=\"1\"\n"
      "[HKLM\\A\\B]\n"
      "[HKLM\\AB]\n"
      "[HKCU\\A]\n"
      "[-HKLM\\a]\n"
      "[HKLM\\C]\n\"keep\"=\"k\"\n\"drop\"=\"d\"\n@=\"def\"\n"
      "\"DROP\"=-\n@=-\n\"never\"=-\n");
  EXPECT_EQ(doc.FindKey(kHklm, "A"), nullptr);
  EXPECT_EQ(doc.FindKey(kHklm, "A\\B"), nullptr);
  EXPECT_NE(doc.FindKey(kHklm, "AB"), nullptr);
  EXPECT_NE(doc.FindKey(RegistryRoot::kCurrentUser, "A"), nullptr);
  const RegKeyData* c = doc.FindKey(kHklm, "C");
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->values.size(), 1u);
  EXPECT_EQ(c->values[0].name, "keep");

  // A key deleted and named again starts empty.
  doc = ParseOk("REGEDIT4\n[HKLM\\A]\n\"x\"=\"1\"\n[-HKLM\\A]\n[HKLM\\A]\n");
  ASSERT_NE(doc.FindKey(kHklm, "A"), nullptr);
  EXPECT_TRUE(doc.FindKey(kHklm, "A")->values.empty());
}

struct BadInput {
  const char* what;
  const char* text;
  int line;
  const char* message;
};

void PrintTo(const BadInput& input, std::ostream* out) { *out << input.what; }

class RegFileErrorTest : public testing::TestWithParam<BadInput> {};

TEST_P(RegFileErrorTest, NamesTheLineAndLeavesOutputAlone) {
  const BadInput& input = GetParam();
  RegDocument doc;
  doc.SetString(kHklm, "Before", "v", "kept");
  std::string error;
  EXPECT_FALSE(ParseRegFile(input.text, "registry.reg", &doc, &error));
  std::string prefix = "registry.reg:" + std::to_string(input.line) + ": ";
  EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
  EXPECT_NE(error.find(input.message), std::string::npos) << error;
  ASSERT_EQ(doc.keys.size(), 1u);
  EXPECT_EQ(doc.keys[0].path, "Before");
}

INSTANTIATE_TEST_SUITE_P(
    BadLines, RegFileErrorTest,
    testing::Values(
        BadInput{"ShortDword", "REGEDIT4\n[HKLM\\A]\n\"D\"=dword:59a\n", 3, "bad dword"},
        BadInput{"LongDword", "REGEDIT4\n[HKLM\\A]\n\"D\"=dword:0000059a0\n", 3, "bad dword"},
        BadInput{"NonHexDword", "REGEDIT4\n[HKLM\\A]\n\"D\"=dword:0000059g\n", 3, "bad dword"},
        BadInput{"OddHex", "REGEDIT4\n[HKLM\\A]\n\n\"B\"=hex:a5,3\n", 4, "two hex digits"},
        BadInput{"ThreeDigitHex", "REGEDIT4\n[HKLM\\A]\n\"B\"=hex:a53,00\n", 3, "two hex digits"},
        BadInput{"MissingComma", "REGEDIT4\n[HKLM\\A]\n\"B\"=hex:a5 3b\n", 3, "comma"},
        BadInput{"LeadingComma", "REGEDIT4\n[HKLM\\A]\n\"B\"=hex:,a5\n", 3, "two hex digits"},
        BadInput{"BadContinuation", "REGEDIT4\n[HKLM\\A]\n\"B\"=hex:a5,\\\n  3b,x\n", 4,
                 "two hex digits"},
        BadInput{"ContinuationAtEnd", "REGEDIT4\n[HKLM\\A]\n\"B\"=hex:a5,\\", 3, "past the end"},
        BadInput{"BadHexType", "REGEDIT4\n[HKLM\\A]\n\"B\"=hex(zz):00\n", 3, "hex value type"},
        BadInput{"HugeHexType", "REGEDIT4\n[HKLM\\A]\n\"B\"=hex(100000000):00\n", 3,
                 "hex value type"},
        BadInput{"NameQuote", "REGEDIT4\n[HKLM\\A]\n\"Name=x\n", 3, "closing quote"},
        BadInput{"ValueQuote", "REGEDIT4\n[HKLM\\A]\n\"Name\"=\"x\n", 3, "closing quote"},
        BadInput{"EscapedLastQuote", "REGEDIT4\n[HKLM\\A]\n\"N\"=\"x\\\"\n", 3, "closing quote"},
        BadInput{"BadEscape", "REGEDIT4\n[HKLM\\A]\n\"N\"=\"C:\\temp\"\n", 3, "bad escape"},
        BadInput{"TextAfterString", "REGEDIT4\n[HKLM\\A]\n\"N\"=\"x\" y\n", 3, "after the string"},
        BadInput{"NoEquals", "REGEDIT4\n[HKLM\\A]\n\"N\" \"x\"\n", 3, "'='"},
        BadInput{"UnknownData", "REGEDIT4\n[HKLM\\A]\n\"N\"=word:1\n", 3, "bad value data"},
        BadInput{"ValueBeforeKey", "REGEDIT4\n\n\"N\"=\"x\"\n[HKLM\\A]\n", 3, "outside a key"},
        BadInput{"ValueAfterDeletion", "REGEDIT4\n[-HKLM\\A]\n@=\"x\"\n", 3, "outside a key"},
        BadInput{"BadHeader", "REGEDIT5\n[HKLM\\A]\n", 1, "REGEDIT4 header"},
        BadInput{"BlankBeforeHeader", "\nREGEDIT4\n", 1, "REGEDIT4 header"},
        BadInput{"EmptyFile", "", 1, "REGEDIT4 header"},
        BadInput{"Utf16File", "\xFF\xFER\0E\0", 1, "UTF-16"},
        BadInput{"UnknownRoot", "REGEDIT4\n[HKEY_NOWHERE\\A]\n", 2, "root key"},
        BadInput{"UnclosedKey", "REGEDIT4\n[HKLM\\A\n", 2, "']'"},
        BadInput{"EmptyKeyName", "REGEDIT4\n[HKLM\\A\\\\B]\n", 2, "empty key name"},
        BadInput{"DeleteRoot", "REGEDIT4\n[-HKLM]\n", 2, "root key"},
        BadInput{"Garbage", "REGEDIT4\n[HKLM\\A]\nName=x\n", 3, "neither"}),
    [](const testing::TestParamInfo<BadInput>& info) { return std::string(info.param.what); });

TEST(RegFileParseTest, SurvivesTruncationAndDamageAnywhere) {
  const std::string sample =
      "REGEDIT4\r\n[HKLM\\SOFTWARE\\\x81\x5C]\r\n@=\"a\\\\b\\\"\"\r\n"
      "\"D\"=dword:0000059a\r\n\"H\"=hex(7):61,00,\\\r\n  62,00,00\r\n[-HKLM\\X]\r\n\"Z\"=-\r\n";
  const char replacements[] = {'\\', '"', ',', '\n', '\r', '[', ']', '(', '\x81', '\0', '-'};
  auto check = [](std::string_view text) {
    RegDocument doc;
    std::string error;
    if (!ParseRegFile(text, "registry.reg", &doc, &error)) {
      EXPECT_EQ(error.rfind("registry.reg:", 0), 0u) << error;
    }
  };
  for (size_t cut = 0; cut <= sample.size(); ++cut) check(std::string_view(sample).substr(0, cut));
  for (size_t pos = 0; pos < sample.size(); ++pos) {
    for (char c : replacements) {
      std::string damaged = sample;
      damaged[pos] = c;
      check(damaged);
    }
  }
}

// --- Writing ---

RegDocument EveryKindOfValue() {
  RegDocument doc;
  const char* path = "SOFTWARE\\OSTRA";
  doc.SetString(kHklm, path, "", "default");
  doc.SetString(kHklm, path, "Path", "D:\\wwwroot\\\"q\"");
  doc.SetString(kHklm, path, "Gbk", "\xB2\xE2\x81\x5C");
  doc.SetString(kHklm, path, "Empty", "");
  doc.SetDword(kHklm, path, "Port", 0x59a);
  doc.SetDword(kHklm, path, "Max", 0xFFFFFFFF);
  doc.SetBinary(kHklm, path, "Key", {0xa5, 0x3b, 0x00});
  doc.SetBinary(kHklm, path, "Nothing", {});
  doc.SetValue(kHklm, path, "Expand", kRegExpandSz, Sz("%PATH%"));
  doc.SetValue(kHklm, path, "Multi", kRegMultiSz, Bytes(std::string_view("a\0b\0\0", 5)));
  doc.SetValue(kHklm, path, "Q", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  doc.SetValue(kHklm, path, "None", kRegNone, {9});
  doc.SetValue(kHklm, path, "Odd", 0x12345678, {1});
  // REG_SZ data that "text" cannot carry.
  doc.SetValue(kHklm, path, "NoZero", kRegSz, Bytes("abc"));
  doc.SetValue(kHklm, path, "InnerZero", kRegSz, Sz(std::string_view("a\0b", 3)));
  doc.SetValue(kHklm, path, "Lines", kRegSz, Sz("a\r\nb"));
  doc.SetValue(kHklm, path, "StrayLead", kRegSz, Sz("\x81\"x"));
  doc.SetValue(kHklm, path, "ShortDword", kRegDword, {1, 2, 3});
  doc.SetValue(kHklm, path, "Long", kRegBinary, std::vector<uint8_t>(300, 0xab));
  doc.SetString(kHklm, path, "Name \"with\" \\ and \x81\x5C", "v");
  doc.AddKey(RegistryRoot::kCurrentConfig, "");
  doc.SetString(RegistryRoot::kUsers, "S-1\\\xB2\xE2", "x", "y");
  return doc;
}

TEST(RegFileWriteTest, RoundTripsEveryKindOfValue) {
  RegDocument doc = EveryKindOfValue();
  ExpectSameDocument(doc, ParseOk(WriteRegFile(doc)));
}

TEST(RegFileWriteTest, RoundTripsRandomDocuments) {
  std::mt19937 random(20240611);
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  // Names made of pieces regedit can carry: letters, escapes and GBK pairs; key names
  // leave out the backslash.
  const char* pieces[] = {"a", "Z", " ", ";", "=", "]", "\x81\x5C", "\xB2\xE2", "\\", "\""};
  auto name = [&](int kinds) {
    std::string out;
    for (int n = pick(5); n > 0; --n) out += pieces[pick(kinds)];
    return out;
  };
  for (int round = 0; round < 200; ++round) {
    RegDocument doc;
    for (int k = pick(4); k >= 0; --k) {
      std::string path = "K" + std::to_string(k) + "\\" + name(8) + "x";
      RegKeyData& key = doc.AddKey(static_cast<RegistryRoot>(pick(5)), path);
      for (int v = pick(6); v > 0; --v) {
        std::vector<uint8_t> data(static_cast<size_t>(pick(120)));
        for (uint8_t& byte : data) byte = static_cast<uint8_t>(pick(4) == 0 ? 0 : random());
        const uint32_t types[] = {kRegSz, kRegSz, kRegDword, kRegBinary, kRegMultiSz, 0x20};
        key.SetValue(name(10), types[pick(6)], std::move(data));
      }
    }
    RegDocument back;
    std::string text = WriteRegFile(doc);
    std::string error;
    ASSERT_TRUE(ParseRegFile(text, "registry.reg", &back, &error)) << error << "\n" << text;
    ExpectSameDocument(doc, back);
    if (testing::Test::HasFailure()) FAIL() << text;
  }
}

TEST(RegFileWriteTest, WritesTextRegeditReads) {
  RegDocument doc;
  doc.SetString(kHklm, "SOFTWARE\\OSTRA", "", "x");
  doc.SetString(kHklm, "SOFTWARE\\OSTRA", "Path", "D:\\www\"");
  doc.SetDword(kHklm, "SOFTWARE\\OSTRA", "Port", 0x59a);
  doc.SetValue(kHklm, "SOFTWARE\\OSTRA", "Bad", kRegSz, Bytes("no zero"));
  doc.SetValue(kHklm, "SOFTWARE\\OSTRA", "Q", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0});
  std::vector<std::string> lines = SplitCrLf(WriteRegFile(doc));
  const std::vector<std::string> expected = {
      "REGEDIT4",
      "",
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA]",
      "@=\"x\"",
      "\"Path\"=\"D:\\\\www\\\"\"",
      "\"Port\"=dword:0000059a",
      "\"Bad\"=hex(1):6e,6f,20,7a,65,72,6f",
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00",
      "",
      "",
  };
  EXPECT_EQ(lines, expected);
}

TEST(RegFileWriteTest, WrapsLongHexListsLikeRegedit) {
  RegDocument doc;
  std::vector<uint8_t> data(500);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  doc.SetBinary(kHklm, "A", "Security", data);
  std::string text = WriteRegFile(doc);
  for (size_t at = 0; (at = text.find('\n', at + 1)) != std::string::npos;) {
    EXPECT_EQ(text[at - 1], '\r') << "bare LF at " << at;
  }
  std::vector<std::string> lines = SplitCrLf(text);
  // Header, blank, key, the value's lines, blank, and the empty rest after the last CR LF.
  ASSERT_GT(lines.size(), 8u);
  std::vector<std::string> valueLines(lines.begin() + 3, lines.end() - 2);
  ASSERT_GE(valueLines.size(), 2u);
  EXPECT_EQ(valueLines[0].rfind("\"Security\"=hex:00,01,", 0), 0u);
  for (size_t i = 0; i < valueLines.size(); ++i) {
    const std::string& line = valueLines[i];
    EXPECT_LE(line.size(), 80u) << line;
    if (i > 0) {
      EXPECT_EQ(line.rfind("  ", 0), 0u) << line;
    }
    if (i + 1 < valueLines.size()) {
      EXPECT_GE(line.size(), 72u) << line;
      EXPECT_EQ(line.substr(line.size() - 2), ",\\") << line;
    } else {
      EXPECT_EQ(line.substr(line.size() - 3), ",f3") << line;  // the last byte, no comma
    }
  }
  ExpectSameDocument(doc, ParseOk(text));
}

// --- The registry of a machine root ---

class PosixRegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/reg_file_test.XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir_ = dirTemplate;
    file_ = dir_ + "/registry.reg";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void WriteFile(const std::string& text) {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good());
  }

  RegistryKey Open(PosixRegistry& registry, const std::string& path) {
    RegistryKey key = 0;
    EXPECT_EQ(registry.OpenKeyRead(kHklm, path, &key), kRegSuccess) << registry.LastError();
    return key;
  }

  std::string dir_;
  std::string file_;
};

TEST_F(PosixRegistryTest, MissingFileOrKeyIsFileNotFound) {
  PosixRegistry registry(file_);
  RegistryKey key = 77;
  EXPECT_EQ(registry.OpenKeyRead(kHklm, "SOFTWARE\\OSTRA", &key), kRegFileNotFound);
  EXPECT_EQ(key, 77u);

  WriteFile("REGEDIT4\r\n[HKLM\\SOFTWARE\\OSTRA\\Sub]\r\n");
  EXPECT_EQ(registry.OpenKeyRead(kHklm, "SOFTWARE\\OSTRA", &key), kRegFileNotFound);
  EXPECT_EQ(registry.OpenKeyRead(kHklm, "SOFTWARE\\OSTRA\\Sub\\Deeper", &key), kRegFileNotFound);
  EXPECT_EQ(registry.OpenKeyRead(RegistryRoot::kCurrentUser, "SOFTWARE\\OSTRA\\Sub", &key),
            kRegFileNotFound);
  EXPECT_EQ(key, 77u);
  EXPECT_EQ(registry.OpenKeyRead(kHklm, "\\software\\ostra\\SUB\\", &key), kRegSuccess);
  EXPECT_NE(key, 77u);
  EXPECT_EQ(registry.CloseKey(key), kRegSuccess);
}

TEST_F(PosixRegistryTest, BrokenFileFailsAndSaysWhere) {
  WriteFile("REGEDIT4\n[HKLM\\A]\n\"Port\"=dword:1\n");
  PosixRegistry registry(file_);
  RegistryKey key = 77;
  long status = registry.OpenKeyRead(kHklm, "A", &key);
  EXPECT_NE(status, kRegSuccess);
  EXPECT_NE(status, kRegFileNotFound);
  EXPECT_EQ(key, 77u);
  EXPECT_NE(registry.LastError().find("registry.reg:3: bad dword"), std::string::npos)
      << registry.LastError();
}

TEST_F(PosixRegistryTest, QueryValueFollowsRegQueryValueEx) {
  WriteFile(
      "REGEDIT4\n[HKLM\\SOFTWARE\\OSTRA]\n\"Tool\"=\"abc\"\n\"Port\"=dword:0000059a\n"
      "@=\"d\"\n\"Nothing\"=hex:\n");
  PosixRegistry registry(file_);
  RegistryKey key = Open(registry, "SOFTWARE\\OSTRA");

  uint32_t size = 0;
  EXPECT_EQ(registry.QueryValue(key, "Tool", nullptr, &size), kRegSuccess);
  EXPECT_EQ(size, 4u);  // the terminating zero counts

  uint8_t buffer[16];
  size = 4;
  ASSERT_EQ(registry.QueryValue(key, "TOOL", buffer, &size), kRegSuccess);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), std::string("abc\0", 4));

  size = 3;
  EXPECT_EQ(registry.QueryValue(key, "Tool", buffer, &size), kRegMoreData);
  EXPECT_EQ(size, 4u);

  size = sizeof buffer;
  ASSERT_EQ(registry.QueryValue(key, "Port", buffer, &size), kRegSuccess);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buffer[0] | buffer[1] << 8 | buffer[2] << 16 | buffer[3] << 24, 0x59a);

  size = sizeof buffer;
  ASSERT_EQ(registry.QueryValue(key, "", buffer, &size), kRegSuccess);
  EXPECT_EQ(size, 2u);
  size = 0;
  EXPECT_EQ(registry.QueryValue(key, "Nothing", buffer, &size), kRegSuccess);
  EXPECT_EQ(size, 0u);

  size = 9;
  EXPECT_EQ(registry.QueryValue(key, "Missing", buffer, &size), kRegFileNotFound);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(registry.CloseKey(key), kRegSuccess);
}

TEST_F(PosixRegistryTest, HandlesKeepTheValuesTheyWereOpenedWith) {
  WriteFile("REGEDIT4\n[HKLM\\A]\n\"V\"=\"old\"\n");
  PosixRegistry registry(file_);
  RegistryKey first = Open(registry, "A");
  WriteFile("REGEDIT4\n[HKLM\\A]\n\"V\"=\"newer\"\n");
  RegistryKey second = Open(registry, "A");
  ASSERT_NE(first, second);
  std::filesystem::remove(file_);

  uint32_t size = 0;
  EXPECT_EQ(registry.QueryValue(first, "V", nullptr, &size), kRegSuccess);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(registry.QueryValue(second, "V", nullptr, &size), kRegSuccess);
  EXPECT_EQ(size, 6u);

  EXPECT_EQ(registry.CloseKey(first), kRegSuccess);
  EXPECT_EQ(registry.QueryValue(first, "V", nullptr, &size), kRegInvalidHandle);
  EXPECT_EQ(registry.CloseKey(first), kRegInvalidHandle);
  EXPECT_EQ(registry.QueryValue(second, "V", nullptr, &size), kRegSuccess);
  EXPECT_EQ(registry.QueryValue(0, "V", nullptr, &size), kRegInvalidHandle);
  EXPECT_EQ(registry.CloseKey(second), kRegSuccess);
}

TEST_F(PosixRegistryTest, ReadsWhatSaveRegFileWrote) {
  RegDocument doc = EveryKindOfValue();
  std::string error;
  ASSERT_TRUE(SaveRegFile(file_, doc, &error)) << error;
  EXPECT_FALSE(std::filesystem::exists(file_ + ".tmp"));

  RegDocument loaded;
  ASSERT_EQ(LoadRegFile(file_, &loaded, &error), RegLoadStatus::kOk) << error;
  ExpectSameDocument(doc, loaded);

  PosixRegistry registry(file_);
  RegistryKey key = Open(registry, "software\\ostra");
  uint8_t buffer[400];
  uint32_t size = sizeof buffer;
  ASSERT_EQ(registry.QueryValue(key, "long", buffer, &size), kRegSuccess);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + size), std::vector<uint8_t>(300, 0xab));
  EXPECT_EQ(registry.CloseKey(key), kRegSuccess);
}

}  // namespace
}  // namespace ost
