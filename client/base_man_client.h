// TBaseManClient: the client's end of the service's base manager, the one
// object under the manager that creates and frees base sets. A client
// obtains its window from the manager (TServiceConnection::BaseManWindow)
// and never links to it: the base manager sends nothing to its clients.
//
//   TServiceConnection service;
//   TOwnedPtr<TBaseManClient> base_man(new TBaseManClient(service.BaseManWindow()));
//   TOwnedPtr<TBaseSetClient> set = base_man->NewBaseSet();
//   TBaseClient& base = set->OpenBase(u"EnRu.dic");
//   TCursorClient& cursor = set->NewCursor();
//   cursor.Locate(u"house");
//   std::u16string trans = cursor.GetTrans(cursor.State().Bases[0]);
//
// Lifetime: created with new and held in a TOwnedPtr (remote_object.h);
// it must outlive every base set object it made.
#pragma once

#include "client/remote_object.h"
#include "platform/win_types.h"

namespace vandrel::client {

class TBaseSetClient;

class TBaseManClient : public TRemoteObject {
 public:
  explicit TBaseManClient(win::HWND base_man);

  // BM_NEW_BASE_SET: a new, empty base set in the service; its window.
  win::HWND NewBaseSetWindow();
  // BM_FREE_BASE_SET. Raises EServiceError 141 ("Unknown BaseSet") for a
  // window that is not one of the service's base sets.
  void FreeBaseSetWindow(win::HWND base_set);

  // A new base set with a client object linked to it (it receives the base
  // list from now on). The caller owns the object; closing it (Close, or
  // its destructor) frees the base set in the service through this object.
  TOwnedPtr<TBaseSetClient> NewBaseSet();

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
};

}  // namespace vandrel::client
