#include "ost-release/transaction_lint.h"

#include <cctype>

#include "update/sql_runner.h"

namespace ost::release {
namespace {

// Upper-cased words of a batch, outside comments, string literals and quoted names.
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      flush();
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      flush();
      // Block comments nest in SQL Server.
      int depth = 0;
      for (; i + 1 < text.size(); ++i) {
        if (text[i] == '/' && text[i + 1] == '*') {
          ++depth;
          ++i;
        } else if (text[i] == '*' && text[i + 1] == '/') {
          ++i;
          if (--depth == 0) break;
        }
      }
    } else if (c == '\'' || c == '"' || c == '[') {
      flush();
      const char close = c == '[' ? ']' : c;
      for (++i; i < text.size() && text[i] != close; ++i) {
      }
      // A statement boundary the scanner cannot see past: the name or text is a word.
      words.push_back("?");
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#') {
      word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else {
      flush();
      if (c == ';') words.push_back(";");
    }
  }
  flush();
  return words;
}

// The refused forms: leading words, the last one any of a set.
struct Form {
  std::vector<std::string> lead;
  std::vector<std::string> next;  // empty: the lead alone
};

const std::vector<Form>& Forms() {
  static const std::vector<Form> forms = {
      {{"CREATE", "DATABASE"}, {}},
      {{"ALTER", "DATABASE"}, {}},
      {{"DROP", "DATABASE"}, {}},
      {{"BACKUP"}, {"DATABASE", "LOG"}},
      {{"RESTORE"}, {"DATABASE", "LOG", "HEADERONLY", "FILELISTONLY", "VERIFYONLY", "LABELONLY"}},
      {{"CREATE", "FULLTEXT"}, {"CATALOG", "INDEX"}},
      {{"ALTER", "FULLTEXT"}, {"CATALOG", "INDEX"}},
      {{"DROP", "FULLTEXT"}, {"CATALOG", "INDEX"}},
      {{"RECONFIGURE"}, {}},
  };
  return forms;
}

}  // namespace

std::vector<std::string> StatementsRefusedInTransaction(std::string_view script) {
  std::vector<std::string> found;
  std::string copy(script);
  copy.push_back('\0');
  int batch = 0;
  CutSqlBatches(copy.data(), script.size(), [&](const char* text) {
    ++batch;
    const std::vector<std::string> words = Words(text);
    for (size_t at = 0; at < words.size(); ++at) {
      for (const Form& form : Forms()) {
        const size_t lead = form.lead.size();
        const size_t need = lead + (form.next.empty() ? 0 : 1);
        if (at + need > words.size()) continue;
        bool match = true;
        for (size_t k = 0; k < lead && match; ++k) match = words[at + k] == form.lead[k];
        if (!match) continue;
        std::string what;
        for (size_t k = 0; k < lead; ++k) what += (k ? " " : "") + form.lead[k];
        if (!form.next.empty()) {
          bool listed = false;
          for (const std::string& word : form.next) listed = listed || words[at + lead] == word;
          if (!listed) continue;
          what += " " + words[at + lead];
        }
        found.push_back("batch " + std::to_string(batch) + ": " + what);
      }
    }
    return true;
  });
  return found;
}

}  // namespace ost::release
