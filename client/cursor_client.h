// TCursorClient: the client's end of one cursor, which walks the merged,
// sorted word list of every base open in its base set. Each move answers
// whether it found a word; the cursor's state (current word, the bases
// holding it, position number, whether it is the last word) arrives as a
// notification during the move and is kept in State(). LookupWord and Page
// have their answer carry the notifications instead (one message each
// way); they apply them - State(), OnCursorState, OnState, then OnChange,
// as the notifications would - before they return.
//
// Lifetime: usually made and owned by its TBaseSetClient (NewCursor); held
// in a TOwnedPtr otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/remote_object.h"
#include "platform/win_types.h"

namespace vandrel::client {

struct TCursorState {
  // The bases whose current word is Word, as the cursor lists them.
  std::vector<win::HWND> Bases;
  // The 1-based place of Word's last entry in all bases' sorted lists put
  // one after another; -1 with no word and after a find.
  std::int32_t Position = -1;
  std::u16string Word;  // empty: no current word
  bool IsLast = false;
};

// A base's translation of a word, as CR_GET_TRANS answers it: Code 0 and
// the translation, or Code 223 and the error's text when it could not be
// read.
struct TBaseTranslation {
  win::HWND Base = 0;
  std::int32_t Code = 0;
  std::u16string Text;
};

// A base passed over because its file failed, and "<file>: damaged (...)".
struct TSkippedBase {
  win::HWND Base = 0;
  std::u16string Why;
};

// The answer of LookupWord: the locate's result, the state it left (also
// told as a notification) and every holding base's translation, in the
// order of State.Bases.
struct TLookupAnswer {
  bool Found = false;
  std::vector<TSkippedBase> Skipped;
  TCursorState State;
  std::vector<TBaseTranslation> Translations;
};

// One word of a page: its position, the bases holding it (as the
// cursor's state lists them) and, when asked for, their translations (the
// same order).
struct TPageWord {
  std::u16string Word;
  std::int32_t Position = -1;
  std::vector<win::HWND> Bases;
  std::vector<TBaseTranslation> Translations;
};

struct TPageAnswer {
  std::vector<TPageWord> Words;
  std::vector<TSkippedBase> Skipped;
  TCursorState State;  // the cursor's afterwards
};

// Where a page begins (protocol/page_ids.h).
enum class TPageStart : std::int32_t {
  AfterCurrent = 0,  // the words after the current one (N x Next)
  FromCurrent = 1,   // the current word, then the words after it
  FromLocate = 2,    // the word Locate finds, then the words after it
};

class TCursorClient : public TRemoteObject {
 public:
  explicit TCursorClient(win::HWND cursor);

  // The state of the last notification.
  const TCursorState& State() const { return state_; }
  // Called with State() after every state notification.
  std::function<void(const TCursorState&)> OnCursorState;

  // Moves; each answers whether a word was taken. Prior and Next do
  // nothing (and answer false) without a current position.
  bool First();
  bool Last();
  bool Prior();
  bool Next();
  // The best match for text: the smallest word beginning with it, else the
  // largest word before it, else the smallest after it. wide = false has
  // the service take the text in its 8-bit code page and pick the
  // dictionary whose word shares the longest beginning with it.
  bool Locate(std::u16string_view text, bool wide = true);
  // Exactly the word text, in every base that has it.
  bool Find(std::u16string_view text, bool wide = true);
  // CR_GET_POSITION.
  std::int32_t GetPosition();
  // CR_ASSIGN: takes another cursor's place (a cursor of the same set).
  void Assign(win::HWND other);
  void Assign(const TCursorClient& other) { Assign(other.Remote()); }
  // CR_GET_TRANS: the marked-up translation of the current word in base;
  // empty when base does not hold it. Raises EServiceError 223 for a
  // damaged translation.
  std::u16string GetTrans(win::HWND base);

  // One request each (client/cursor_client_page.cpp):
  // CR_LOOKUP: Locate, then the translation of every base holding the word
  // found.
  TLookupAnswer LookupWord(std::u16string_view text, bool wide = true);
  // CR_PAGE: up to count words (0..10000) from start on, each with its
  // bases (and translations with with_trans); the cursor ends on the last
  // of them. text is located for FromLocate only. Raises EServiceError 227
  // for a count out of range.
  TPageAnswer Page(std::int32_t count, TPageStart start, bool with_trans = false,
                   std::u16string_view text = {}, bool wide = true);

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  // QM_STATE: 102 count N, N x 1 base, 118 position, 116 word, 120 last;
  // then TakeState.
  void QmState(TMessage& message);
  // A state heard: State(), OnCursorState, then the inherited counting and
  // OnState (given the answer channel).
  void TakeState(const TCursorState& state);
  // The notifications an answer carries (item 134), state before change.
  void TakeCarried(std::int32_t carried, const TCursorState& state);
  bool Move(std::uint16_t message);
  bool Search(std::uint16_t message, std::u16string_view text, bool wide);

  TCursorState state_;
};

}  // namespace vandrel::client
