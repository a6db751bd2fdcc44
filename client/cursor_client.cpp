// TCursorClient: moves, searches, translations and the cursor's state.
#include "client/cursor_client.h"

#include "platform/exceptions.h"
#include "protocol/message_ids.h"
#include "protocol/model_ids.h"

namespace vandrel::client {

TCursorClient::TCursorClient(win::HWND cursor) : TRemoteObject(cursor) {}

const TMessageTable& TCursorClient::MessageTable() {
  static const TMessageTable table("TCursorClient", &TRemoteObject::MessageTable(),
                                   {{QM_STATE, &TCursorClient::QmState}});
  return table;
}

void TCursorClient::QmState(TMessage& message) {
  if (static_cast<win::HWND>(message.WParam) != Remote()) return;
  TTransferMan& in = Transfer();
  TCursorState s;
  const std::int32_t count = in.ReadInteger(kItemCount);
  if (count < 0) throw Exception("cursor state with " + std::to_string(count) + " bases");
  for (std::int32_t i = 0; i < count; ++i) {
    s.Bases.push_back(static_cast<win::HWND>(in.ReadInteger(kItemHandle)));
  }
  s.Position = in.ReadInteger(kItemPosition);
  s.Word = in.ReadWideString(kItemWord);
  s.IsLast = (in.ReadInteger(kItemIsLast) & 0xFF) != 0;
  TakeState(s);
}

void TCursorClient::TakeState(const TCursorState& state) {
  state_ = state;
  if (OnCursorState) OnCursorState(state_);
  HeardState(Transfer());
}

bool TCursorClient::Move(std::uint16_t message) {
  Call(message);
  return Answer().ReadInteger(kItemResult) != 0;
}

bool TCursorClient::Search(std::uint16_t message, std::u16string_view text, bool wide) {
  TTransferMan& out = BeginRequest();
  out.WriteWideString(kItemWord, text);
  out.WriteInteger(kItemWideFlag, wide ? 1 : 0);
  Request(message);
  return Answer().ReadInteger(kItemResult) != 0;
}

bool TCursorClient::First() { return Move(CR_FIRST); }
bool TCursorClient::Last() { return Move(CR_LAST); }
bool TCursorClient::Prior() { return Move(CR_PRIOR); }
bool TCursorClient::Next() { return Move(CR_NEXT); }
bool TCursorClient::Locate(std::u16string_view text, bool wide) {
  return Search(CR_LOCATE, text, wide);
}
bool TCursorClient::Find(std::u16string_view text, bool wide) {
  return Search(CR_FIND, text, wide);
}

std::int32_t TCursorClient::GetPosition() {
  Call(CR_GET_POSITION);
  return Answer().ReadInteger(kItemResult);
}

void TCursorClient::Assign(win::HWND other) {
  BeginRequest().WriteInteger(kItemHandle, static_cast<std::int32_t>(other));
  Request(CR_ASSIGN);
}

std::u16string TCursorClient::GetTrans(win::HWND base) {
  BeginRequest().WriteInteger(kItemHandle, static_cast<std::int32_t>(base));
  Request(CR_GET_TRANS);
  return Answer().ReadWideString(kItemTrans);
}

}  // namespace vandrel::client
