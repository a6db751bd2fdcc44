// The engine's errors: the codes, their texts, the process-wide record of
// the last failure and EEngineError, the exception every engine layer raises.
//
// API in brief:
//   RaiseEngineError(kAccessDenied, "Data") records the failure and throws
//     EEngineError, whose message is "Engine Error # 11013 Access denied to
//     table 'Data'".
//   RaiseEngineError(TEngineErrorInfo{...}) for index, field, extra text and
//     the operating-system error number.
//   LastEngineError() copies the record of the last raised failure.
//   EngineCodeFromOsError(win error) maps a platform error to an engine code
//     (11010, 11012, 11013, 11014, 11016, 11023, 11025, else 11047).
//   EngineErrorText(info) is the text alone, without the "Engine Error #"
//     prefix; an unknown code gives "Unknown error occurred with table '%s'".
//
// The engine runs on the service's main thread; only the record has a lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/win_types.h"

namespace vandrel::engine {

// Engine error codes. They travel to clients and appear in messages: never
// change a value.
enum EngineCode : int {
  kBeginningOfFile = 8705,
  kEndOfFile = 8706,
  kRecordChanged = 8708,
  kNoCurrentRecord = 8709,
  kRecordNotFound = 8710,
  kEndOfBlob = 8711,
  kHeaderCorrupt = 8961,
  kRecordBuffersCorrupt = 8962,
  kBlobBuffersCorrupt = 8963,
  kIndexBuffersCorrupt = 8965,
  kReadError = 9217,
  kWriteError = 9218,
  kCannotDelete = 9220,
  kHeaderAccess = 9221,
  kMaxRecordSize = 9477,
  kTableFull = 9479,
  kTooManyFilters = 9482,
  kIndexLimits = 9487,
  kFieldLimits = 9492,
  kTooManyBlobs = 9494,
  kBlobFieldsOrBlockSize = 9498,
  kDuplicateKey = 9729,
  kBelowMinimum = 9730,
  kAboveMaximum = 9731,
  kValueRequired = 9732,
  kInvalidField = 9985,
  kPrimaryIndexExists = 9993,
  kInvalidBlobOffset = 9998,
  kInvalidFieldDefinition = 10000,
  kInvalidValidity = 10006,
  kSecondaryIndexNameMissing = 10010,
  kInvalidPassword = 10015,
  kInvalidSecondaryIndexName = 10022,
  kInvalidIndexField = 10023,
  kInvalidKeySize = 10026,
  kSecondaryIndexExists = 10027,
  kInvalidBlobLength = 10029,
  kInvalidBlobHandle = 10030,
  kTableInUse = 10031,
  kInvalidFieldName = 10038,
  kInvalidFilterHandle = 10050,
  kFilterError = 10051,
  kPrimaryIndexRemoval = 10055,
  kTableLocked = 10241,
  kCannotUnlock = 10242,
  kLockFailure = 10249,
  kMustBeExclusive = 10253,
  kRecordInUse = 10258,
  kPasswordRequired = 10498,
  kInvalidBlobField = 10753,
  kNotInitialized = 10758,
  kInvalidPath = 11010,
  kTooManyFiles = 11012,
  kAccessDenied = 11013,
  kInvalidFileHandle = 11014,
  kOutOfMemory = 11016,
  kInvalidMemoryLength = 11017,
  kDeviceAccessDenied = 11023,
  kTableMoved = 11025,
  kUnknownOsError = 11047,
  kSqlError = 11949,
  kWrongVersion = 12035,
  kInvalidIndexFieldType = 12292,
  kTableExists = 13060,
  kLanguageDriver = 15878,
};

// The details of one failure. Which names a text uses depends on the code:
// most texts name the table only; index errors name the index first, field
// errors the field first (10023 puts the field number in `field`); 10051
// appends `extra` after the table, 11949 shows `extra` alone.
struct TEngineErrorInfo {
  int code = 0;
  std::string table;
  std::string index;
  std::string field;
  std::string extra;
  win::DWORD os_error = 0;
};

// One entry of an EEngineError: the code and its text.
struct TEngineErrorEntry {
  int code = 0;
  std::string text;
};

class EEngineError : public Exception {
 public:
  explicit EEngineError(const TEngineErrorInfo& info);
  // The first entry's code.
  int Code() const { return entries_.empty() ? 0 : entries_.front().code; }
  const std::vector<TEngineErrorEntry>& Entries() const { return entries_; }
  const TEngineErrorInfo& Info() const { return info_; }

 private:
  std::vector<TEngineErrorEntry> entries_;
  TEngineErrorInfo info_;
};

// The text of a failure without the "Engine Error # N " prefix.
std::string EngineErrorText(const TEngineErrorInfo& info);
// True when the code has a text of its own.
bool IsKnownEngineCode(int code);
// Every code with a text, ascending.
const std::vector<int>& KnownEngineCodes();

// Stores info as the last failure and throws EEngineError.
[[noreturn]] void RaiseEngineError(const TEngineErrorInfo& info);
[[noreturn]] void RaiseEngineError(int code, const std::string& table = {});
// The last failure raised in this process (code 0 when none).
TEngineErrorInfo LastEngineError();
void ClearLastEngineError();

// The engine code for a platform error number (ERROR_FILE_NOT_FOUND ->
// 11010, ERROR_SHARING_VIOLATION -> 11013, ...).
int EngineCodeFromOsError(win::DWORD os_error);

}  // namespace vandrel::engine
