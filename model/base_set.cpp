// TCustomBaseSet and TBaseSet: opening and closing bases, cursors kept in
// step, the folder's dictionary files and the base set requests.
#include "model/base_set.h"

#include <algorithm>
#include <exception>

#include "model/base.h"
#include "model/base_man.h"
#include "model/cursor.h"
#include "model/dictionary_folder.h"
#include "model/vocab_table.h"
#include "platform/error.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "platform/unique_handle.h"
#include "platform/utf8.h"
#include "protocol/model_ids.h"
#include "service/errors.h"
#include "service/service_options.h"

namespace vandrel {
namespace {

// Runs every step, keeps the first failure and raises it at the end, so
// that one client that cannot be told does not leave others in a bracket.
class TFirstError {
 public:
  template <class Step>
  void Run(Step step) {
    try {
      step();
    } catch (...) {
      if (!error_) error_ = std::current_exception();
    }
  }
  void Raise() {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  std::exception_ptr error_;
};

// A file name from a client, refused with the platform's invalid-name error
// before any file is touched when it is not a plain name.
void CheckFileName(const std::string& name) {
  if (!IsFolderFileName(name)) throw OSError(win::ERROR_INVALID_NAME);
}

// The name of the file in the dictionary folder that name means: an
// existing file of that name in any letter case, else name itself.
std::string FolderFileName(const std::string& name) {
  CheckFileName(name);
  std::string found = FindFolderFile(DictionaryFolder(), name);
  return found.empty() ? name : found;
}

}  // namespace

// ---- TCustomBaseSet ----

TCustomBaseSet::TCustomBaseSet(TCustomBaseMan* owner) : TChangeObject(owner), base_man_(owner) {}

TCustomBaseSet::~TCustomBaseSet() {
  if (cursor_list_.Count() != 0)
    TCustomBaseMan::LogError("CustomBaseSet.Destroy: CursorList.Count<>0");
  // The set still owns what its client left behind.
  while (cursor_list_.Count() > 0) {
    TNotifyObject* cursor = cursor_list_[cursor_list_.Count() - 1];
    cursor_list_.Delete(cursor_list_.Count() - 1);
    cursor->Free();
  }
  if (base_list_.Count() != 0) TCustomBaseMan::LogError("CustomBaseSet.Destroy: BaseList.Count<>0");
  while (base_list_.Count() > 0) {
    auto* base = static_cast<TCustomBase*>(base_list_[base_list_.Count() - 1]);
    base_list_.Delete(base_list_.Count() - 1);
    base->SetTable(nullptr);
    base->Free();
  }
}

const TMessageTable& TCustomBaseSet::MessageTable() {
  static const TMessageTable table("TCustomBaseSet", &TChangeObject::MessageTable(), {});
  return table;
}

TCustomBase* TCustomBaseSet::Base(int index) const {
  return static_cast<TCustomBase*>(base_list_[index]);
}

TCustomCursor* TCustomBaseSet::Cursor(int index) const {
  return static_cast<TCustomCursor*>(cursor_list_[index]);
}

int TCustomBaseSet::IndexOfBase(win::HWND handle) const {
  if (handle == 0) return -1;
  for (int i = 0; i < base_list_.Count(); ++i)
    if (base_list_[i]->Handle() == handle) return i;
  return -1;
}

int TCustomBaseSet::IndexOfCursor(win::HWND handle) const {
  if (handle == 0) return -1;
  for (int i = 0; i < cursor_list_.Count(); ++i)
    if (cursor_list_[i]->Handle() == handle) return i;
  return -1;
}

std::vector<TCustomCursor*> TCustomBaseSet::CursorSnapshot() const {
  std::vector<TCustomCursor*> cursors;
  for (TNotifyObject* cursor : cursor_list_.List())
    cursors.push_back(static_cast<TCustomCursor*>(cursor));
  return cursors;
}

bool TCustomBaseSet::IsLive(TCustomCursor* cursor) const {
  return cursor_list_.IndexOf(cursor) >= 0 && !cursor->FreePending();
}

void TCustomBaseSet::DoChange() {
  TFirstError errors;
  for (TCustomCursor* cursor : CursorSnapshot())
    if (IsLive(cursor)) errors.Run([cursor] { cursor->Relocate(); });
  errors.Run([this] { TChangeObject::DoChange(); });
  errors.Raise();
}

void TCustomBaseSet::BeginUpdate() {
  TChangeObject::BeginUpdate();
  for (TCustomCursor* cursor : CursorSnapshot()) cursor->BeginUpdate();
}

void TCustomBaseSet::EndUpdate() {
  TFirstError errors;
  errors.Run([this] { TChangeObject::EndUpdate(); });
  // A cursor created inside the bracket never had it opened.
  for (TCustomCursor* cursor : CursorSnapshot())
    if (IsLive(cursor) && cursor->UpdateCount() > 0) errors.Run([cursor] { cursor->EndUpdate(); });
  errors.Raise();
}

void TCustomBaseSet::GetFileList(TFilePathArray& files) const {
  files.clear();
  win::WIN32_FIND_DATAA data;
  const win::UniqueHandle find(
      win::FindFirstFileA(JoinPath(DictionaryFolder(), "*.dic").c_str(), &data));
  if (!find) return;
  do {
    if ((data.dwFileAttributes & win::FILE_ATTRIBUTE_DIRECTORY) == 0)
      files.emplace_back(data.cFileName);
  } while (win::FindNextFileA(find.get(), &data));
}

int TCustomBaseSet::NewCursor() {
  TCustomCursor* cursor = CreateCursor();
  return cursor_list_.Add(cursor);
}

void TCustomBaseSet::FreeCursor(int index) {
  TNotifyObject* cursor = cursor_list_[index];
  cursor_list_.Delete(index);
  cursor->Free();
}

int TCustomBaseSet::OpenBase(const std::string& name, win::HWND* handle) {
  if (!IsFolderFileName(name))
    throw ELocal("Base \"" + JoinPath(DictionaryFolder(), name) + "\" not exists",
                 kErrBaseNotExists);
  const std::string found = FindFolderFile(DictionaryFolder(), name);
  const std::string path = JoinPath(DictionaryFolder(), found.empty() ? name : found);
  for (int i = base_list_.Count() - 1; i >= 0; --i) {
    TVocabTable* table = Base(i)->Table();
    if (table != nullptr && SameFileName(table->FileName, path))
      throw ELocal("Base already opened", kErrBaseAlreadyOpened);
  }
  if (found.empty()) throw ELocal("Base \"" + path + "\" not exists", kErrBaseNotExists);

  TCustomBase* base = CreateBase();
  int index = -1;
  try {
    base->SetTable(base_man_->NewBase(path));
    index = base_list_.Add(base);
  } catch (...) {
    base->Free();
    throw;
  }
  if (handle != nullptr) *handle = base->Handle();
  // The cursors get their entries before the client hears of the base:
  // requests may reach the cursors while the set's state is out.
  for (TCustomCursor* cursor : CursorSnapshot()) {
    cursor->InsertBase(index);
  }
  BeginUpdate();
  TFirstError errors;
  errors.Run([this] { Changed(); });
  errors.Run([this] { EndUpdate(); });
  errors.Raise();
  return index;
}

void TCustomBaseSet::CloseBase(int index) {
  auto* base = Base(index);
  base_list_.Delete(index);
  for (TCustomCursor* cursor : CursorSnapshot()) {
    cursor->CurrentBases().Remove(base);
    cursor->DeleteBase(index);
  }
  base->SetTable(nullptr);
  base->Free();
  BeginUpdate();
  TFirstError errors;
  errors.Run([this] { Changed(); });
  errors.Run([this] { EndUpdate(); });
  errors.Raise();
}

void TCustomBaseSet::CreateBaseFile(const std::string& name, std::int32_t language,
                                    std::int32_t trans_language, bool scramble, bool compress) {
  const std::string path = JoinPath(DictionaryFolder(), FolderFileName(name));
  base_man_->CreateBaseFile(path, language, trans_language, scramble, compress);
}

void TCustomBaseSet::DeleteBaseFile(const std::string& name) {
  const std::string path = JoinPath(DictionaryFolder(), FolderFileName(name));
  // A file that merges word updates is replaced when the merge ends.
  for (TNotifyObject* item : base_man_->BaseList().List()) {
    auto* table = static_cast<TVocabTable*>(item);
    if (table->Merging && SameFileName(table->FileName, path))
      throw ELocal("Base \"" + WideToUtf8(table->GetName()) + "\" now busy", kErrBaseBusy);
  }
  if (win::DeleteFileA(path.c_str())) return;
  const win::DWORD error = win::GetLastError();
  // An open file is mapped (access denied) or held without delete sharing.
  if (error == win::ERROR_ACCESS_DENIED || error == win::ERROR_SHARING_VIOLATION)
    throw ELocal("Base \"" + name + "\" now in use", kErrBaseInUse);
  throw OSError(error);
}

// ---- TBaseSet ----

const TMessageTable& TBaseSet::MessageTable() {
  static const TMessageTable table("TBaseSet", &TCustomBaseSet::MessageTable(),
                                   {
                                       {BS_LIST_FILES, &TBaseSet::BsListFiles},
                                       {BS_NEW_CURSOR, &TBaseSet::BsNewCursor},
                                       {BS_FREE_CURSOR, &TBaseSet::BsFreeCursor},
                                       {BS_OPEN_BASE, &TBaseSet::BsOpenBase},
                                       {BS_CLOSE_BASE, &TBaseSet::BsCloseBase},
                                       {BS_CREATE_BASE_FILE, &TBaseSet::BsCreateBaseFile},
                                       {BS_DELETE_BASE_FILE, &TBaseSet::BsDeleteBaseFile},
                                   });
  return table;
}

void TBaseSet::SendState() {
  TTransferMan& out = Transfer();
  out.ResetWrite();
  out.WriteInteger(kItemCount, BaseList().Count());
  for (TNotifyObject* base : BaseList().List())
    out.WriteInteger(kItemHandle, static_cast<std::int32_t>(base->Handle()));
  TCustomBaseSet::SendState();
}

void TBaseSet::BsListFiles(TMessage&) {
  TFilePathArray files;
  GetFileList(files);
  TTransferMan& out = Transfer();
  out.ResetWrite();
  out.WriteInteger(kItemCount, static_cast<std::int32_t>(files.size()));
  for (const std::string& file : files) out.WriteWideString(kItemFileName, SystemToWide(file));
}

void TBaseSet::BsNewCursor(TMessage&) {
  const int index = NewCursor();
  Transfer().ResetWrite();
  Transfer().WriteInteger(kItemHandle, static_cast<std::int32_t>(Cursor(index)->Handle()));
}

void TBaseSet::BsFreeCursor(TMessage&) {
  const auto handle = static_cast<win::HWND>(Transfer().ReadInteger(kItemHandle));
  const int index = IndexOfCursor(handle);
  if (index < 0) throw ELocal("Unknown Cursor", kErrUnknownCursor);
  FreeCursor(index);
  Transfer().ResetWrite();
}

void TBaseSet::BsOpenBase(TMessage&) {
  const std::string name = WideToSystem(Transfer().ReadWideString(kItemFileName));
  win::HWND handle = 0;
  OpenBase(name, &handle);
  Transfer().ResetWrite();
  Transfer().WriteInteger(kItemHandle, static_cast<std::int32_t>(handle));
}

void TBaseSet::BsCloseBase(TMessage&) {
  const auto handle = static_cast<win::HWND>(Transfer().ReadInteger(kItemHandle));
  const int index = IndexOfBase(handle);
  if (index < 0) throw ELocal("Unknown base \"" + std::to_string(handle) + "\"", kErrUnknownBase);
  CloseBase(index);
  Transfer().ResetWrite();
}

void TBaseSet::BsCreateBaseFile(TMessage&) {
  TTransferMan& in = Transfer();
  const std::string name = WideToSystem(in.ReadWideString(kItemFileName));
  const std::int32_t language = in.ReadInteger(kItemLanguage);
  const std::int32_t trans_language = in.ReadInteger(kItemTransLanguage);
  const bool scramble = (in.ReadInteger(kItemScrambled) & 0xFF) != 0;
  const bool compress = (in.ReadInteger(kItemCompressed) & 0xFF) != 0;
  CreateBaseFile(name, language, trans_language, scramble, compress);
  Transfer().ResetWrite();
}

void TBaseSet::BsDeleteBaseFile(TMessage&) {
  const std::string name = WideToSystem(Transfer().ReadWideString(kItemFileName));
  DeleteBaseFile(name);
  Transfer().ResetWrite();
}

}  // namespace vandrel
