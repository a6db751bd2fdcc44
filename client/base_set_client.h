// TBaseSetClient: the client's end of one base set - a client's working
// collection of open dictionaries (bases) and the cursors that walk their
// merged word list. It lists, creates and deletes dictionary files in the
// service's dictionary folder, opens and closes bases, creates and frees
// cursors, and keeps the list of open bases that the base set sends after
// every open and close (its state: the base windows in the set's order).
//
// Bases and cursors come in two forms: the typed objects (OpenBase,
// NewCursor), which this object creates, links and owns until CloseBase,
// FreeCursor or Close; and bare windows (OpenBaseWindow, ...), for callers
// that keep their own objects or none.
//
// When a base is opened or closed the service sends, inside that request,
// first the set's new base list, then every cursor's new place; OnBaseList
// and the cursors' OnCursorState run in that order.
//
// Lifetime: made by TBaseManClient::NewBaseSet (or created with new over a
// base set window) and held in a TOwnedPtr. The base manager object it was
// made by must outlive it. Close() (also run by the destructor, errors
// dropped) frees the cursors, closes the bases and frees the base set; the
// destructor first drops every callback of the set and its objects, since
// the notifications of that closing may outlive what the callbacks use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/base_client.h"
#include "client/cursor_client.h"
#include "client/remote_object.h"
#include "platform/win_types.h"

namespace vandrel::client {

class TBaseManClient;

class TBaseSetClient : public TRemoteObject {
 public:
  // base_set: the base set's window. base_man: the object that frees the
  // base set on Close (used, not owned); null leaves the base set alive.
  TBaseSetClient(win::HWND base_set, TBaseManClient* base_man);
  ~TBaseSetClient() override;

  // BS_LIST_FILES: the "*.dic" files of the dictionary folder, in the
  // order the service found them (no folder, no sorting).
  std::vector<std::u16string> ListFiles();
  // BS_CREATE_BASE_FILE: an empty dictionary file (replacing one of that
  // name). BS_DELETE_BASE_FILE: raises 184 when the file is in use.
  void CreateBaseFile(std::u16string_view file_name, std::int32_t language,
                      std::int32_t trans_language, bool scramble, bool compress);
  void DeleteBaseFile(std::u16string_view file_name);

  // BS_OPEN_BASE with a file name relative to the dictionary folder; the
  // new base's client object, linked (it has received the parameters).
  // Raises EServiceError 181 when the set holds the file already, 185 when
  // there is no such file, and the service's error for a file that is not
  // a dictionary. The object is owned by this set until CloseBase.
  TBaseClient& OpenBase(std::u16string_view file_name);
  // BS_CLOSE_BASE; frees the object.
  void CloseBase(TBaseClient& base);
  // BS_NEW_CURSOR: a cursor on the set's first word, linked (it has
  // received its state). Owned by this set until FreeCursor.
  TCursorClient& NewCursor();
  // BS_FREE_CURSOR; frees the object.
  void FreeCursor(TCursorClient& cursor);

  // The same requests with bare windows. Unknown windows raise 183 (base)
  // and 182 ("Unknown Cursor").
  win::HWND OpenBaseWindow(std::u16string_view file_name);
  void CloseBaseWindow(win::HWND base);
  win::HWND NewCursorWindow();
  void FreeCursorWindow(win::HWND cursor);

  // Frees every cursor and closes every base that this object made, then
  // frees the base set. Does nothing the second time. Raises the first
  // error met; the rest is still attempted.
  void Close();
  bool Closed() const { return closed_; }

  // The base windows of the set's last state, in the set's order.
  const std::vector<win::HWND>& BaseWindows() const { return base_windows_; }
  // Called with BaseWindows() after each state the set sends.
  std::function<void(const std::vector<win::HWND>&)> OnBaseList;

  // The typed objects this set made that are still open, in opening order.
  const std::vector<TBaseClient*>& Bases() const { return bases_; }
  const std::vector<TCursorClient*>& Cursors() const { return cursors_; }
  // The base object of a window, null when this set made none for it.
  TBaseClient* FindBase(win::HWND base) const;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  // QM_STATE: item 102 count N, N x item 1 base window; then the inherited
  // handler (OnState sees the channel after those items).
  void QmState(TMessage& message);

  TBaseManClient* base_man_;
  bool closed_ = false;
  std::vector<win::HWND> base_windows_;
  // Owned: freed (TFree) by CloseBase, FreeCursor, Close or the destructor.
  std::vector<TBaseClient*> bases_;
  std::vector<TCursorClient*> cursors_;
};

}  // namespace vandrel::client
