// TCustomBaseMan and TBaseMan: base sets, shared tables, the error log and
// the base manager requests.
#include "model/base_man.h"

#include <exception>

#include "model/base_set.h"
#include "model/dictionary_folder.h"
#include "model/error_log.h"
#include "model/vocab_table.h"
#include "platform/exceptions.h"
#include "platform/process.h"
#include "platform/window.h"
#include "protocol/model_ids.h"
#include "service/errors.h"

namespace vandrel {

// ---- TCustomBaseMan ----

TCustomBaseMan::TCustomBaseMan(TNotifyObject* owner) : TLinkObject(owner) {}

TCustomBaseMan::~TCustomBaseMan() {
  if (base_set_list_.Count() != 0) LogError("CustomBaseMan.Destroy: BaseSetList.Count<>0");
  // Base sets that clients left behind are freed all the same; freeing
  // them closes their bases and so releases the tables.
  while (base_set_list_.Count() > 0) {
    TNotifyObject* set = base_set_list_[base_set_list_.Count() - 1];
    base_set_list_.Delete(base_set_list_.Count() - 1);
    set->Free();
  }
  if (base_list_.Count() != 0) LogError("CustomBaseMan.Destroy: BaseList.Count<>0");
  while (base_list_.Count() > 0) {
    TNotifyObject* table = base_list_[base_list_.Count() - 1];
    base_list_.Delete(base_list_.Count() - 1);
    table->Free();
  }
}

const TMessageTable& TCustomBaseMan::MessageTable() {
  static const TMessageTable table("TCustomBaseMan", &TLinkObject::MessageTable(), {});
  return table;
}

void TCustomBaseMan::LogError(const std::string& text) { vandrel::LogError(text); }

int TCustomBaseMan::NewBaseSet() {
  TCustomBaseSet* set = CreateBaseSet();
  return base_set_list_.Add(set);
}

void TCustomBaseMan::DestroyBaseSet(int index) {
  try {
    TNotifyObject* set = base_set_list_[index];
    base_set_list_.Delete(index);
    set->Free();
  } catch (const std::exception& e) {
    throw Exception(std::string("CustomBaseMan.DestroyBaseSet: ") + e.what());
  }
}

int TCustomBaseMan::IndexOfBaseSet(win::HWND handle) const {
  if (handle == 0) return -1;
  for (int i = 0; i < base_set_list_.Count(); ++i)
    if (base_set_list_[i]->Handle() == handle) return i;
  return -1;
}

TVocabTable* TCustomBaseMan::NewBase(const std::string& path) {
  for (TNotifyObject* item : base_list_.List()) {
    auto* table = static_cast<TVocabTable*>(item);
    if (SameFileName(table->FileName, path)) return table;
  }
  TVocabTable* table = nullptr;
  try {
    table = CreateTable();
    table->FileName = path;
    table->Open();
    base_list_.Add(table);
    return table;
  } catch (const std::exception& e) {
    if (table != nullptr) table->Free();
    // Where a damaged file failed goes to the log; the client hears the
    // message alone.
    if (const TDamage* damage = DamageOf(e))
      LogError(DamageSummary(path, e) + ": " + damage->Detail());
    throw Exception(std::string("CustomBaseMan.NewBase: ") + e.what());
  }
}

// ---- TBaseMan ----

TBaseMan::TBaseMan(TNotifyObject* owner) : TCustomBaseMan(owner) {
  if (Handle() != 0) win::SetTimer(Handle(), kReclaimTimerId, kReclaimPeriodMs, nullptr);
}

TBaseMan::~TBaseMan() {
  if (Handle() != 0) win::KillTimer(Handle(), kReclaimTimerId);
}

const TMessageTable& TBaseMan::MessageTable() {
  static const TMessageTable table(
      "TBaseMan", &TCustomBaseMan::MessageTable(),
      {
          {BM_NEW_BASE_SET, &TBaseMan::BmNewBaseSet},
          {BM_FREE_BASE_SET, &TBaseMan::BmFreeBaseSet},
          {static_cast<std::uint16_t>(win::WM_TIMER), &TBaseMan::WmTimer},
      });
  return table;
}

void TBaseMan::BmNewBaseSet(TMessage& message) {
  const int index = NewBaseSet();
  auto* set = static_cast<TCustomBaseSet*>(BaseSetList()[index]);
  win::DWORD process = 0;
  win::GetWindowThreadProcessId(static_cast<win::HWND>(message.WParam), &process);
  set->SetClientProcess(process);
  Transfer().ResetWrite();
  Transfer().WriteInteger(kItemHandle, static_cast<std::int32_t>(set->Handle()));
}

void TBaseMan::BmFreeBaseSet(TMessage&) {
  const auto handle = static_cast<win::HWND>(Transfer().ReadInteger(kItemHandle));
  const int index = IndexOfBaseSet(handle);
  if (index < 0) throw ELocal("Unknown BaseSet", kErrUnknownBaseSet);
  DestroyBaseSet(index);
  Transfer().ResetWrite();
}

void TBaseMan::WmTimer(TMessage& message) {
  if (message.WParam == static_cast<std::int32_t>(kReclaimTimerId)) ReclaimBaseSets();
}

int TBaseMan::ReclaimBaseSets() {
  const win::DWORD self = win::GetCurrentProcessId();
  int freed = 0;
  for (int i = BaseSetList().Count() - 1; i >= 0; --i) {
    if (i >= BaseSetList().Count()) continue;
    auto* set = static_cast<TCustomBaseSet*>(BaseSetList()[i]);
    const win::DWORD process = set->ClientProcess();
    if (process == 0 || process == self || win::ProcessAlive(process)) continue;
    DestroyBaseSet(i);
    ++freed;
  }
  return freed;
}

}  // namespace vandrel
