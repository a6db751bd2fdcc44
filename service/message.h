// The message record that every handler receives, and the per-class
// handler tables through which a message object dispatches a window message
// to the handler declared for its identifier by its class or an ancestor.
//
// How a class declares its handlers (the pattern every message class
// follows, whether it adds one handler or twenty):
//
//   // cursor.h
//   class TCursor : public TChangeObject {
//    public:
//     explicit TCursor(TNotifyObject* owner);
//     static const TMessageTable& MessageTable();
//     const TMessageTable& ClassMessageTable() const override { return MessageTable(); }
//    private:
//     void CrLocate(TMessage& message);
//     void QmConnect(TMessage& message);   // extends TChangeObject's handler
//   };
//
//   // cursor.cpp
//   const TMessageTable& TCursor::MessageTable() {
//     static const TMessageTable table("TCursor", &TChangeObject::MessageTable(), {
//         {CR_LOCATE, &TCursor::CrLocate},
//         {QM_CONNECT, &TCursor::QmConnect},
//     });
//     return table;
//   }
//   void TCursor::QmConnect(TMessage& message) {
//     Inherited<TCursor>(message);   // the nearest ancestor's QM_CONNECT handler
//     ...
//   }
//
// Every class that derives from THandleObject declares its own table, even
// an empty one: the table's class name is the object's TypeName.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>
#include <vector>

namespace vandrel {

class THandleObject;

// One window message as a handler sees it. Result starts at 0 and is what
// the sender of the message receives.
struct TMessage {
  std::uint32_t Msg = 0;    // window message; its low 16 bits select the handler
  std::int32_t WParam = 0;  // first parameter
  std::int32_t LParam = 0;  // second parameter
  std::int32_t Result = 0;  // returned to the sender
};

// A handler as stored in a table: a member function of THandleObject or of
// any class derived from it (single, non-virtual inheritance only).
using TMessageHandler = void (THandleObject::*)(TMessage&);

// One {identifier, handler} pair of a class's table.
struct TMessageEntry {
  template <class Class>
  TMessageEntry(std::uint16_t id, void (Class::*handler)(TMessage&))
      : Id(id), Handler(static_cast<TMessageHandler>(handler)) {
    static_assert(std::is_base_of_v<THandleObject, Class>,
                  "message handlers belong to message object classes");
  }
  std::uint16_t Id;
  TMessageHandler Handler;
};

// The handlers that one class declares, plus the table of its parent class.
// Tables are built once (function-local statics) and live for the whole
// process; they are immutable after construction.
class TMessageTable {
 public:
  // Throws std::logic_error when an identifier is declared twice, or when
  // an identifier is 0 or 0xC000 and above (such messages never reach a
  // handler).
  TMessageTable(const char* class_name, const TMessageTable* parent,
                std::initializer_list<TMessageEntry> entries);
  TMessageTable(const TMessageTable&) = delete;
  TMessageTable& operator=(const TMessageTable&) = delete;

  const char* ClassName() const { return class_name_; }
  const TMessageTable* Parent() const { return parent_; }
  // The handler declared for id by this class itself, or null.
  TMessageHandler Own(std::uint16_t id) const;
  // The handler for id in this class or the nearest ancestor that declares
  // one, or null.
  TMessageHandler Find(std::uint16_t id) const;

 private:
  const char* class_name_;
  const TMessageTable* parent_;
  std::vector<TMessageEntry> entries_;  // sorted by Id
};

// True when a message with this identifier may go to a handler: 0 and the
// registered-message range 0xC000 and above always go to DefaultHandler.
constexpr bool IsDispatchableId(std::uint16_t id) { return id != 0 && id < 0xC000; }

}  // namespace vandrel
