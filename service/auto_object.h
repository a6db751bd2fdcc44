// TAutoObject: a change-tracking object whose life is counted by its
// clients' connects and disconnects. It is created with RefCount 0 and
// belongs to whoever created it until the first connect; from then on the
// disconnect that brings the count back to 0 frees it.
//
// Lifetime: a TAutoObject is created with new and frees itself through
// THandleObject::Free(). The last disconnect frees it while its own
// handler is still on the stack; Free() defers the delete until the
// object's outermost dispatch has returned, so WndProc still sets the
// message result (the buffer number) from a live object, and the caller
// reads answer code 1 from the retired buffer (TLinkObject).
#pragma once

#include <cstdint>

#include "service/change_object.h"

namespace vandrel {

class TAutoObject : public TChangeObject {
 public:
  explicit TAutoObject(TNotifyObject* owner);

  // Adds one reference.
  virtual void AddRef();
  // Removes one reference; the object frees itself when the count becomes
  // 0 (deferred while it is inside dispatch, see above).
  virtual void Release();

  std::int32_t RefCount() const { return ref_count_; }

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 protected:
  // QM_CONNECT: the inherited handler (links the caller), then AddRef.
  void QmConnect(TMessage& message);
  // QM_DISCONNECT: the inherited handler, then Release.
  void QmDisconnect(TMessage& message);

 private:
  std::int32_t ref_count_ = 0;
};

}  // namespace vandrel
