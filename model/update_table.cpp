// TUpdateTable: the update table, its language choice and its statement.
#include "model/update_table.h"

#include <filesystem>

#include "dataset/engine_query.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "engine/languages.h"
#include "platform/error.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "platform/utf8.h"
#include "protocol/model_ids.h"
#include "service/errors.h"

namespace vandrel {

const char* const kUpdatesDatabase = "Updates.tmp\\";
const char* const kUpdatesFile = "Updates.tmp";
const char16_t* const kTransSeparator = u"; ";

namespace {

// A change refused before it is stored.
constexpr int kErrUpdateRefused = 1;

std::uint32_t CodePageOf(std::uint16_t language) {
  try {
    return LocaleToCodePage(language);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

std::string UpdateLanguageName(std::uint16_t dictionary_language) {
  // No locale: the code page of English, and no other language's order.
  if (dictionary_language == 0) return "English (USA)";
  const std::string_view exact = engine::LanguageNameById(dictionary_language);
  if (!exact.empty()) return std::string(exact);
  const std::uint32_t page = CodePageOf(dictionary_language);
  if (page != 0) {
    for (const engine::LanguageName& entry : engine::Languages()) {
      if (entry.id != 0 && CodePageOf(entry.id) == page) return std::string(entry.name);
    }
  }
  return "English (USA)";
}

void CreateUpdateTable(std::uint16_t dictionary_language) {
  dataset::TEngineQuery query;
  query.DatabaseName = kUpdatesDatabase;
  query.SQL.push_back(
      "CREATE TABLE Data (Word Character (50), Trans BLOB (0 , 1) PRIMARY KEY(Word) BLOB BLOCK "
      "SIZE 128 LANGUAGE \"" +
      UpdateLanguageName(dictionary_language) + "\" SORT \"Default order\");");
  query.ExecSQL();
}

void RemoveUpdateLeftovers(const std::string& dictionary_folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  // A held file refuses deletion (another service owns it): left alone.
  if (fs::exists(kUpdatesFile, error)) win::DeleteFileA(kUpdatesFile);
  if (dictionary_folder.empty()) return;
  for (fs::directory_iterator it(dictionary_folder, error), end; !error && it != end;
       it.increment(error)) {
    const fs::path& path = it->path();
    if (path.extension() != ".tmp" || !it->is_regular_file(error)) continue;
    fs::path dic = path;
    dic.replace_extension(".dic");
    if (fs::exists(dic, error)) win::DeleteFileA(path.c_str());
  }
}

void PrepareUpdatesFile(const std::string& dictionary_file) {
  namespace fs = std::filesystem;
  std::error_code error;
  // "Updates.tmp" beside the dictionaries would be the merge output of a
  // dictionary "Updates.dic", compiled onto the open update table.
  const fs::path folder = fs::absolute(dictionary_file, error).parent_path();
  if (fs::equivalent(fs::current_path(error), folder, error))
    throw ELocal("Word updates cannot be kept in the dictionary folder \"" + folder.string() +
                     "\": the service must run in its state folder",
                 kErrUpdateRefused);
  if (!fs::exists(kUpdatesFile, error) || win::DeleteFileA(kUpdatesFile)) return;
  const win::DWORD code = win::GetLastError();
  if (code == win::ERROR_SHARING_VIOLATION || code == win::ERROR_ACCESS_DENIED)
    throw ELocal("The update file \"" + fs::absolute(kUpdatesFile, error).string() +
                     "\" is held by another process (another Vandrel service with the same "
                     "state folder?)",
                 kErrUpdateRefused);
  throw OSError(code);
}

TUpdateTable::TUpdateTable() {
  DatabaseName = kUpdatesDatabase;
  TableName = "Data";
  IndexFieldNames = "Word";
  Exclusive = true;
}

std::uint32_t TUpdateTable::Locale() const {
  return std::uint32_t{LanguageId()} | (std::uint32_t{SortId()} << 16);
}

WideString TUpdateTable::GetWord() { return AnsiToWide(Locale(), FieldBytes(0)); }

WideString TUpdateTable::GetTrans() { return UnpackWide(FieldBytes(1)); }

void TUpdateTable::SetTrans(WideView text) {
  // Packing keeps a high byte 0 as F1 hex, so U+F100..U+F1FF would come
  // back as other characters; no dictionary body holds them either.
  WideString safe(text);
  for (char16_t& c : safe)
    if (c >= 0xF100 && c <= 0xF1FF) c = u'?';
  SetFieldBytes(1, PackWide(safe));
}

std::string TUpdateTable::PutKey(WideView word) const {
  const std::string shown = WideToUtf8(word);
  if (word.find(u'\0') != WideView::npos)
    throw ELocal("Word \"" + shown + "\" holds a zero character", kErrUpdateRefused);
  std::string bytes;
  if (!WideToAnsi(Locale(), word, bytes))
    throw ELocal("Word \"" + shown + "\" has characters the dictionary's code page lacks",
                 kErrUpdateRefused);
  while (!bytes.empty() && bytes.back() == ' ') bytes.pop_back();
  if (bytes.empty()) throw ELocal("Empty word", kErrUpdateRefused);
  return bytes;
}

std::string TUpdateTable::DeleteKey(WideView word) const {
  std::string bytes = PutKey(word);
  if (bytes.size() > kUpdateWordBytes)
    throw ELocal("Word \"" + WideToUtf8(word) + "\" is longer than 50 bytes and cannot be deleted",
                 kErrUpdateRefused);
  return bytes;
}

void TUpdateTable::SetWordKey(const std::string& key) {
  std::string cut = key.substr(0, kUpdateWordBytes);
  while (!cut.empty() && cut.back() == ' ') cut.pop_back();
  SetFieldBytes(0, cut);
}

void TUpdateTable::WriteBack() {
  if (engine::TDataCursor* cursor = Cursor()) cursor->Table().Flush();
}

}  // namespace vandrel
