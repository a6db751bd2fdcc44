// Database directories: table creation, deletion and sharing.
#include "engine/data_directory.h"

#include <algorithm>
#include <vector>

#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/engine_error.h"
#include "engine/engine_names.h"
#include "engine/file_handler.h"
#include "engine/file_list.h"
#include "engine/index_file.h"
#include "platform/nls.h"

namespace vandrel::engine {
namespace {

bool BlankOnly(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; });
}

const char* const kExtensions[] = {".DAT", ".IDX", ".BLB"};

}  // namespace

bool ValidTableName(const std::string& name) {
  if (name.empty() || name.size() > kMaxTableName) return false;
  return name.find_first_of(std::string("\\/:\0", 4)) == std::string::npos;
}

TDataDirectory::TDataDirectory(TDataSession& session, std::string name)
    : session_(&session), name_(std::move(name)) {
  if (UpperAscii(name_) == "MEMORY") {
    in_memory_ = true;
    return;
  }
  std::string path = name_;
  while (!path.empty() && path.back() == '\\') path.pop_back();
  if (path.empty()) path = session.PrivateDir();
  if (!path.empty() && path.front() != '/' && !session.PrivateDir().empty()) {
    path = session.PrivateDir() + "/" + path;
  }
  path_ = path + "\\";
}

TDataDirectory::~TDataDirectory() {
  for (auto& [key, table] : tables_) {
    try {
      table->Close();
    } catch (...) {
    }
  }
}

std::string TDataDirectory::FileBase(const std::string& table) const { return path_ + table; }

bool TDataDirectory::TableExists(const std::string& table) const {
  return TFileHandler::Exists(FileBase(table) + ".DAT", in_memory_);
}

void TDataDirectory::CreateTable(const TableDef& def) {
  const std::string& table = def.name;
  if (!ValidTableName(table)) RaiseEngineError(kInvalidPath, table);
  if (def.fields.empty() || def.fields.size() > kMaxFields) RaiseEngineError(kFieldLimits, table);
  if (def.encrypted && (def.password.empty() || def.password.size() > kMaxPasswordLength ||
                        BlankOnly(def.password))) {
    RaiseEngineError(kInvalidPassword, table);
  }
  if (def.language != 0 &&
      !win::IsValidLocale(win::MAKELCID(def.language, def.sort), win::LCID_INSTALLED)) {
    RaiseEngineError(kLanguageDriver, table);
  }
  if (!ValidBlockSize(def.blob_block_size)) RaiseEngineError(kBlobFieldsOrBlockSize, table);
  const IndexDef primary = def.indexes.empty() ? IndexDef{} : def.indexes[0];
  for (std::uint16_t n : primary.fields) {
    if (n == 0 || n > def.fields.size()) {
      TEngineErrorInfo info;
      info.code = kInvalidIndexField;
      info.table = table;
      info.index = "Primary";
      info.field = std::to_string(n);
      RaiseEngineError(info);
    }
  }
  if (TableExists(table)) RaiseEngineError(kTableExists, table);

  TDataCreateParams params;
  params.locale = def.language;
  params.sort = def.sort;
  params.blob_block_size = def.blob_block_size;
  params.description = def.description;
  params.password = def.encrypted ? def.password : std::string();
  params.encrypted = def.encrypted;
  params.user_major = def.user_major;
  params.user_minor = def.user_minor;
  bool has_blobs = false;
  for (const FieldDef& f : def.fields) {
    TFieldDesc d;
    d.number = f.number;
    d.name = f.name;
    d.description = f.description;
    d.type = f.type;
    d.subtype = f.subtype;
    if (f.size > 255 || f.scale > 255) RaiseEngineError(kFieldLimits, table);
    d.size = static_cast<std::uint8_t>(f.size);
    d.scale = static_cast<std::uint8_t>(f.scale);
    d.required = f.required != 0;
    d.case_conversion = f.char_case;
    d.default_value = f.default_value;
    d.min_value = f.min_value;
    d.max_value = f.max_value;
    has_blobs = has_blobs || f.type == kTypeBlob;
    params.fields.push_back(std::move(d));
  }
  LayOutRecord(params.fields);

  const std::string base = FileBase(table);
  try {
    TDataFile data(table, in_memory_);
    data.CreateTable(base + ".DAT", params);
    TIndexFile index(table, in_memory_);
    index.CreateIndex(base + ".IDX", data.fields(), data.lcid(), def.encrypted);
    TIndexDesc desc;
    desc.descending = primary.descending != 0;
    desc.case_insensitive = primary.case_insensitive != 0;
    desc.unique = true;
    desc.compression = primary.compression;
    desc.fields = primary.fields;
    index.AddPrimaryIndex(std::move(desc));
    index.CloseIndex();
    if (has_blobs) {
      TBlobFile blob(table, in_memory_);
      blob.CreateBlob(base + ".BLB", params.blob_block_size, def.encrypted);
      blob.CloseBlob();
    }
    data.CloseTable();
  } catch (...) {
    for (const char* ext : kExtensions) {
      try {
        if (TFileHandler::Exists(base + ext, in_memory_)) {
          TFileHandler::DeleteFile(base + ext, in_memory_, table);
        }
      } catch (...) {
      }
    }
    throw;
  }
}

void TDataDirectory::DeleteTable(const std::string& table) {
  if (!ValidTableName(table)) RaiseEngineError(kInvalidPath, table);
  if (tables_.count(UpperAscii(table)) != 0) RaiseEngineError(kAccessDenied, table);
  if (!TableExists(table)) RaiseEngineError(kInvalidPath, table);
  for (const char* ext : kExtensions) {
    if (TFileHandler::Exists(FileBase(table) + ext, in_memory_)) {
      TFileHandler::DeleteFile(FileBase(table) + ext, in_memory_, table);
    }
  }
}

void TDataDirectory::RenameTable(const std::string& table, const std::string& new_name) {
  if (!ValidTableName(table)) RaiseEngineError(kInvalidPath, table);
  if (!ValidTableName(new_name)) RaiseEngineError(kInvalidPath, new_name);
  if (tables_.count(UpperAscii(table)) != 0) RaiseEngineError(kAccessDenied, table);
  if (!TableExists(table)) RaiseEngineError(kInvalidPath, table);
  const bool same = UpperAscii(table) == UpperAscii(new_name);
  if (!same) {
    for (const char* ext : kExtensions) {
      if (TFileHandler::Exists(FileBase(new_name) + ext, in_memory_)) {
        RaiseEngineError(kTableExists, new_name);
      }
    }
  }
  std::vector<const char*> done;
  for (const char* ext : kExtensions) {
    if (!TFileHandler::Exists(FileBase(table) + ext, in_memory_)) continue;
    const int code =
        TFileList::Global().Rename(FileBase(table) + ext, in_memory_, FileBase(new_name) + ext);
    if (code != 0) {
      for (const char* back : done) {
        TFileList::Global().Rename(FileBase(new_name) + back, in_memory_, FileBase(table) + back);
      }
      RaiseEngineError(code, table);
    }
    done.push_back(ext);
  }
}

TDataTable& TDataDirectory::AcquireTable(const std::string& table, bool exclusive, bool read_only) {
  if (!ValidTableName(table)) RaiseEngineError(kInvalidPath, table);
  const std::string key = UpperAscii(table);
  if (auto it = tables_.find(key); it != tables_.end()) {
    if (exclusive || it->second->Exclusive()) RaiseEngineError(kAccessDenied, table);
    // Every open of an encrypted table checks the password.
    const TDataHeader& h = it->second->Data().header();
    if (h.encrypted && !session_->ObtainPassword(h.password, table)) {
      RaiseEngineError(kPasswordRequired, table);
    }
    ++it->second->use_count;
    return *it->second;
  }
  auto t = std::make_unique<TDataTable>(*this, table, exclusive, read_only);
  t->Open();
  t->use_count = 1;
  TDataTable& ref = *t;
  tables_[key] = std::move(t);
  return ref;
}

void TDataDirectory::ReleaseTable(TDataTable& table) {
  for (auto it = tables_.begin(); it != tables_.end(); ++it) {
    if (it->second.get() != &table) continue;
    if (--table.use_count > 0) return;
    std::unique_ptr<TDataTable> t = std::move(it->second);
    tables_.erase(it);
    t->Close();
    return;
  }
}

}  // namespace vandrel::engine
