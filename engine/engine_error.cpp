// Engine error texts, the last-error record and the platform error map.
#include "engine/engine_error.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace vandrel::engine {
namespace {

// Which names fill the '%s' of a text, in order.
enum class Args { kTable, kIndexTable, kFieldTable, kFieldIndexTable, kTableExtra, kExtra, kNone };

struct CodeText {
  int code;
  Args args;
  const char* text;
};

// The system's own texts; they reach users and logs as they stand.
const CodeText kTexts[] = {
    {8705, Args::kTable, "Beginning of file encountered in table '%s'"},
    {8706, Args::kTable, "End of file encountered in table '%s'"},
    {8708, Args::kTable,
     "Record has been changed or deleted by another user, session, or table cursor in table "
     "'%s'"},
    {8709, Args::kTable, "No current record in table '%s'"},
    {8710, Args::kTable, "Record not found in table '%s'"},
    {8711, Args::kTable, "End of blob data in table '%s' reached prematurely"},
    {8961, Args::kTable, "Header information corrupt in table '%s'"},
    {8962, Args::kTable, "Data record buffers corrupt in table '%s'"},
    {8963, Args::kTable, "BLOB block buffers corrupt in table '%s'"},
    {8965, Args::kTable, "Index page buffers corrupt in table '%s'"},
    {9217, Args::kTable, "Error reading from table '%s'"},
    {9218, Args::kTable, "Error writing to table '%s'"},
    {9220, Args::kTable, "Cannot delete table '%s'"},
    {9221, Args::kTable, "Error accessing header information for table '%s'"},
    {9477, Args::kTable, "Maximum record size exceeded in table '%s'"},
    {9479, Args::kTable, "The table '%s' is full and cannot contain any more data"},
    {9482, Args::kTable, "Too many filters defined for table '%s'"},
    {9487, Args::kTable,
     "Maximum or minimum limits on number of indexes or fields in an index exceeded in table "
     "'%s'"},
    {9492, Args::kTable,
     "Maximum or minimum limits on number of fields, auto-increment field value, or field size "
     "exceeded in table '%s'"},
    {9494, Args::kTable, "Too many blobs opened in table '%s'"},
    {9498, Args::kTable,
     "Too many blob fields or invalid blob block size specified for table '%s'"},
    {9729, Args::kIndexTable, "Duplicate key found in index '%s' of table '%s'"},
    {9730, Args::kFieldTable,
     "The value for the field '%s' in table '%s' is below the minimum allowable value"},
    {9731, Args::kFieldTable,
     "The value for the field '%s' in table '%s' is above the maximum allowable value"},
    {9732, Args::kFieldTable, "A value must be provided for the field '%s' in table '%s'"},
    {9985, Args::kFieldTable, "Invalid field number or name '%s' specified for table '%s'"},
    {9993, Args::kTable,
     "A primary index is already defined for table '%s' and cannot be added again"},
    {9998, Args::kTable, "Invalid blob offset into table '%s' specified"},
    {10000, Args::kFieldTable,
     "Invalid field definition specified for the field '%s' in table '%s'"},
    {10006, Args::kFieldTable,
     "Invalid default, min or max validity check, or expression specified for '%s' in table "
     "'%s'"},
    {10010, Args::kTable, "The secondary index name is missing or not specified for table '%s'"},
    {10015, Args::kTable, "Password provided for table '%s' is invalid"},
    {10022, Args::kIndexTable, "Invalid secondary index name '%s' specified for table '%s'"},
    {10023, Args::kFieldIndexTable,
     "Invalid field number '%s' specified in index '%s' for table '%s'"},
    {10026, Args::kIndexTable, "Invalid key size specified in index '%s' for table '%s'"},
    {10027, Args::kIndexTable, "The secondary index '%s' already exists for table '%s'"},
    {10029, Args::kTable, "Invalid blob length in table '%s'"},
    {10030, Args::kTable, "Invalid blob handle for table '%s' specified"},
    {10031, Args::kTable, "table '%s' is already in use"},
    {10038, Args::kFieldTable, "Invalid or duplicate field name '%s' specified for table '%s'"},
    {10050, Args::kTable, "Invalid filter handle specified for table '%s'"},
    {10051, Args::kTableExtra, "Filter error for table '%s' - %s"},
    {10055, Args::kTable, "The primary index cannot be removed from table '%s'"},
    {10241, Args::kTable, "The table '%s' is already locked by another user"},
    {10242, Args::kTable, "Cannot unlock table or record in table '%s'"},
    {10249, Args::kTable, "General lock failure with table '%s'"},
    {10253, Args::kTable, "table '%s' must be opened exclusively"},
    {10258, Args::kTable, "Record in table '%s' is in use by another user"},
    {10498, Args::kTable, "Insufficient rights to table '%s', a password is required"},
    {10753, Args::kFieldTable, "Invalid blob field '%s' specified for table '%s'"},
    {10758, Args::kNone, "Engine not initialized"},
    {11010, Args::kTable, "Invalid path or file name for table '%s'"},
    {11012, Args::kTable, "Too many files open while attempting to open table '%s'"},
    {11013, Args::kTable, "Access denied to table '%s'"},
    {11014, Args::kTable, "Invalid file handle for table '%s'"},
    {11016, Args::kNone,
     "There is insufficient operating system memory available for the current operation"},
    {11017, Args::kTable, "Invalid length for in-memory table '%s'"},
    {11023, Args::kTable, "Access denied to logical operating system device for table '%s'"},
    {11025, Args::kTable, "table '%s' has been moved"},
    {11047, Args::kTable, "An unknown operating system error occurred with table '%s'"},
    {11949, Args::kExtra, "SQL error - %s"},
    {12035, Args::kTable, "table '%s' is not the correct version"},
    {12292, Args::kIndexTable, "Invalid field type specified for index '%s' in table '%s'"},
    {13060, Args::kTable, "The table '%s' already exists"},
    {15878, Args::kTable, "The language driver for table '%s' is not available or installed"},
};

const char kUnknownText[] = "Unknown error occurred with table '%s'";

const CodeText* Find(int code) {
  for (const CodeText& t : kTexts) {
    if (t.code == code) return &t;
  }
  return nullptr;
}

// Replaces each "%s" of text, in order, by the next value.
std::string Fill(const char* text, const std::vector<const std::string*>& values) {
  std::string out;
  std::size_t next = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      if (next < values.size()) out += *values[next];
      ++next;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

struct LastErrorRecord {
  std::mutex lock;
  TEngineErrorInfo info;
};

LastErrorRecord& Record() {
  static LastErrorRecord* record = new LastErrorRecord;  // alive during exit
  return *record;
}

}  // namespace

std::string EngineErrorText(const TEngineErrorInfo& info) {
  const CodeText* t = Find(info.code);
  if (t == nullptr) return Fill(kUnknownText, {&info.table});
  switch (t->args) {
    case Args::kTable:
      return Fill(t->text, {&info.table});
    case Args::kIndexTable:
      return Fill(t->text, {&info.index, &info.table});
    case Args::kFieldTable:
      return Fill(t->text, {&info.field, &info.table});
    case Args::kFieldIndexTable:
      return Fill(t->text, {&info.field, &info.index, &info.table});
    case Args::kTableExtra:
      return Fill(t->text, {&info.table, &info.extra});
    case Args::kExtra:
      return Fill(t->text, {&info.extra});
    case Args::kNone:
      break;
  }
  return t->text;
}

bool IsKnownEngineCode(int code) { return Find(code) != nullptr; }

const std::vector<int>& KnownEngineCodes() {
  static const std::vector<int> codes = [] {
    std::vector<int> out;
    for (const CodeText& t : kTexts) out.push_back(t.code);
    std::sort(out.begin(), out.end());
    return out;
  }();
  return codes;
}

EEngineError::EEngineError(const TEngineErrorInfo& info)
    : Exception("Engine Error # " + std::to_string(info.code) + " " + EngineErrorText(info)),
      entries_{{info.code, EngineErrorText(info)}},
      info_(info) {}

void RaiseEngineError(const TEngineErrorInfo& info) {
  {
    LastErrorRecord& r = Record();
    std::lock_guard<std::mutex> guard(r.lock);
    r.info = info;
  }
  throw EEngineError(info);
}

void RaiseEngineError(int code, const std::string& table) {
  TEngineErrorInfo info;
  info.code = code;
  info.table = table;
  RaiseEngineError(info);
}

TEngineErrorInfo LastEngineError() {
  LastErrorRecord& r = Record();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.info;
}

void ClearLastEngineError() {
  LastErrorRecord& r = Record();
  std::lock_guard<std::mutex> guard(r.lock);
  r.info = TEngineErrorInfo{};
}

int EngineCodeFromOsError(win::DWORD os_error) {
  switch (os_error) {
    case win::ERROR_FILE_NOT_FOUND:
    case win::ERROR_PATH_NOT_FOUND:
      return kInvalidPath;
    case win::ERROR_TOO_MANY_OPEN_FILES:
      return kTooManyFiles;
    case win::ERROR_ACCESS_DENIED:
    case win::ERROR_SHARING_VIOLATION:
    case 65:  // network access denied
      return kAccessDenied;
    case win::ERROR_INVALID_HANDLE:
      return kInvalidFileHandle;
    case win::ERROR_NOT_ENOUGH_MEMORY:
      return kOutOfMemory;
    case 15:  // invalid drive
      return kDeviceAccessDenied;
    case win::ERROR_NOT_SAME_DEVICE:
      return kTableMoved;
    default:
      return kUnknownOsError;
  }
}

}  // namespace vandrel::engine
