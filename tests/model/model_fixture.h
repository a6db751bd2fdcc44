// What the object model tests share: a dictionary folder and a log folder
// of their own, dictionaries compiled into it, the base manager created in
// the test process, and client objects that play the client's side: they
// link to server objects, record every notification in one event list and
// send requests through the real transfer buffers (windows of one thread
// call each other directly).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "client/remote_object.h"
#include "client/service_error.h"
#include "dictionary/dic_table.h"
#include "dictionary/vocab_compiler.h"
#include "model/base_man.h"
#include "model/error_log.h"
#include "model/model_ids.h"
#include "model/vocab_man.h"
#include "model/vocab_table.h"
#include "platform/window.h"
#include "service/errors.h"
#include "service/query_ids.h"
#include "service/service_options.h"
#include "service/transfer_man.h"
#include "tests/support/test_support.h"

namespace vandrel::test {

// Every notification any client object received, in order.
inline std::vector<std::string>& Events() {
  static std::vector<std::string> events;
  return events;
}

inline std::string Narrow(const WideString& text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// The client's end of one server object. Notifications are recorded as
// "<label> state ...", "<label> change", "<label> params <name>",
// "<label> params changed <name>", "<label> progress <pos>/<total>".
class TClientObject : public client::TRemoteObject {
 public:
  TClientObject(win::HWND remote, std::string label)
      : client::TRemoteObject(remote), label_(std::move(label)) {
    OnState = [this](TTransferMan& in) { Events().push_back(label_ + " state " + ReadState(in)); };
    OnChange = [this] { Events().push_back(label_ + " change"); };
  }

  // How the state of the linked object reads: "bases:<n>" for a base set,
  // "<word> pos <position> last <0|1> bases:<n>" for a cursor.
  enum class TKind { kBaseSet, kCursor };
  TKind kind = TKind::kCursor;
  // Handles in the last state.
  std::vector<std::int32_t> handles;
  std::int32_t position = 0;
  WideString word;
  bool is_last = false;
  // What BA_PROGRESS answers.
  bool stop = false;
  int params_count = 0;
  int params_changed_count = 0;
  WideString params_name;

  // Sends a request with items written by write; raises EServiceError on an
  // error answer.
  TTransferMan& Send(std::uint16_t id, const std::function<void(TTransferMan&)>& write = {}) {
    TTransferMan& out = BeginRequest();
    if (write) write(out);
    Request(id);
    return Answer();
  }
  std::int32_t SendForInteger(std::uint16_t id, std::uint16_t item,
                              const std::function<void(TTransferMan&)>& write = {}) {
    return Send(id, write).ReadInteger(item);
  }
  // The error code of a request that must fail.
  int FailCode(std::uint16_t id, const std::function<void(TTransferMan&)>& write = {},
               std::string* text = nullptr) {
    try {
      Send(id, write);
    } catch (const client::EServiceError& e) {
      if (text) *text = e.Text();
      return e.Code();
    }
    return 0;
  }

  static const TMessageTable& MessageTable() {
    static const TMessageTable table("TClientObject", &client::TRemoteObject::MessageTable(),
                                     {
                                         {BA_PARAMS, &TClientObject::BaParams},
                                         {BA_PARAMS_CHANGED, &TClientObject::BaParamsChanged},
                                         {BA_PROGRESS, &TClientObject::BaProgress},
                                     });
    return table;
  }
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

 private:
  std::string ReadState(TTransferMan& in) {
    handles.clear();
    const std::int32_t n = in.ReadInteger(kItemCount);
    for (std::int32_t i = 0; i < n; ++i) handles.push_back(in.ReadInteger(kItemHandle));
    if (kind == TKind::kBaseSet) return "bases:" + std::to_string(n);
    position = in.ReadInteger(kItemPosition);
    word = in.ReadWideString(kItemWord);
    is_last = in.ReadInteger(kItemIsLast) != 0;
    return Narrow(word) + " pos " + std::to_string(position) + " last " +
           std::to_string(is_last ? 1 : 0) + " bases:" + std::to_string(n);
  }
  void BaParams(TMessage& message) {
    if (static_cast<win::HWND>(message.WParam) != Remote()) return;
    ++params_count;
    params_name = Transfer().ReadWideString(kItemName);
    Events().push_back(label_ + " params " + Narrow(params_name));
  }
  void BaParamsChanged(TMessage& message) {
    if (static_cast<win::HWND>(message.WParam) != Remote()) return;
    ++params_changed_count;
    Events().push_back(label_ + " params changed " + Narrow(Transfer().ReadWideString(kItemName)));
  }
  void BaProgress(TMessage&) {
    const std::int32_t pos = Transfer().ReadInteger(kItemProgressPos);
    const std::int32_t total = Transfer().ReadInteger(kItemProgressTotal);
    Events().push_back(label_ + " progress " + std::to_string(pos) + "/" + std::to_string(total));
    Transfer().ResetWrite();
    Transfer().WriteInteger(kItemResult, stop ? 1 : 0);
  }

  std::string label_;
};

using TClient = TOwnedPtr<TClientObject>;

inline std::vector<std::pair<WideString, WideString>> Entries(
    std::initializer_list<const char16_t*> words) {
  std::vector<std::pair<WideString, WideString>> entries;
  for (const char16_t* w : words) entries.emplace_back(w, WideString(u"t:") + w);
  return entries;
}

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Events().clear();
    SetDictionaryFolder(dic_.path());
    SetErrorLogFolder(log_.path());
    win::SetMessageBoxHook([this](win::HWND, const std::string& text, const std::string&,
                                  win::UINT) { boxes.push_back(text); });
    base_man.reset(new TVocabMan(nullptr));
    ASSERT_NE(base_man->Handle(), 0);
  }
  void TearDown() override {
    base_man.reset();
    win::SetMessageBoxHook({});
    SetErrorLogFolder("");
    SetDictionaryFolder("");
  }

  // Compiles a dictionary into the folder; words in dictionary order.
  void MakeDic(const std::string& name, std::initializer_list<const char16_t*> words,
               std::uint16_t language = 1033) {
    TVocabCompiler compiler;
    compiler.SetLanguage(language);
    compiler.SetTransLanguage(1049);
    compiler.BeginCompile(Path(name));
    for (const auto& [word, trans] : Entries(words)) compiler.AddWord(word, trans);
    compiler.EndCompile();
  }
  std::string Path(const std::string& name) const { return dic_.path() + "/" + name; }

  // A client object linked to a server object.
  TClient Link(win::HWND remote, const std::string& label,
               TClientObject::TKind kind = TClientObject::TKind::kCursor) {
    TClient client(new TClientObject(remote, label));
    client->kind = kind;
    client->Connect();
    return client;
  }
  TClient Unlinked(win::HWND remote) { return TClient(new TClientObject(remote, "raw")); }

  // A new base set through the base manager, with its client.
  TClient NewSet(const std::string& label = "set") {
    TClient man = Unlinked(base_man->Handle());
    const auto handle = static_cast<win::HWND>(man->SendForInteger(BM_NEW_BASE_SET, kItemHandle));
    return Link(handle, label, TClientObject::TKind::kBaseSet);
  }
  win::HWND Open(TClientObject& set, const std::string& name) {
    return static_cast<win::HWND>(
        set.SendForInteger(BS_OPEN_BASE, kItemHandle, [&](TTransferMan& out) {
          out.WriteWideString(kItemFileName, WideString(name.begin(), name.end()));
        }));
  }
  int OpenFails(TClientObject& set, const std::string& name, std::string* text = nullptr) {
    return set.FailCode(
        BS_OPEN_BASE,
        [&](TTransferMan& out) {
          out.WriteWideString(kItemFileName, WideString(name.begin(), name.end()));
        },
        text);
  }
  void Close(TClientObject& set, win::HWND base) {
    set.Send(BS_CLOSE_BASE, [&](TTransferMan& out) {
      out.WriteInteger(kItemHandle, static_cast<std::int32_t>(base));
    });
  }
  // A new cursor of the set, linked to its client.
  TClient NewCursor(TClientObject& set, const std::string& label = "cursor") {
    const auto handle = static_cast<win::HWND>(set.SendForInteger(BS_NEW_CURSOR, kItemHandle));
    return Link(handle, label);
  }
  void FreeCursor(TClientObject& set, TClientObject& cursor) {
    set.Send(BS_FREE_CURSOR, [&](TTransferMan& out) {
      out.WriteInteger(kItemHandle, static_cast<std::int32_t>(cursor.Remote()));
    });
  }
  void FreeSet(TClientObject& set) {
    TClient man = Unlinked(base_man->Handle());
    man->Send(BM_FREE_BASE_SET, [&](TTransferMan& out) {
      out.WriteInteger(kItemHandle, static_cast<std::int32_t>(set.Remote()));
    });
  }
  // A cursor move: the answer's result.
  static int Move(TClientObject& cursor, std::uint16_t id) {
    return cursor.SendForInteger(id, kItemResult);
  }
  static int Locate(TClientObject& cursor, const WideString& text, bool wide = true,
                    std::uint16_t id = CR_LOCATE) {
    return cursor.SendForInteger(id, kItemResult, [&](TTransferMan& out) {
      out.WriteWideString(kItemWord, text);
      out.WriteInteger(kItemWideFlag, wide ? 1 : 0);
    });
  }
  static WideString Trans(TClientObject& cursor, win::HWND base) {
    return cursor
        .Send(CR_GET_TRANS,
              [&](TTransferMan& out) {
                out.WriteInteger(kItemHandle, static_cast<std::int32_t>(base));
              })
        .ReadWideString(kItemTrans);
  }
  std::string ReadLog() const {
    std::ifstream in(ErrorLogPath());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  ScopedRuntimeDir runtime_;
  ScratchDir dic_{"vandrel-model-dic"};
  ScratchDir log_{"vandrel-model-log"};
  TOwnedPtr<TVocabMan> base_man;
  std::vector<std::string> boxes;
};

}  // namespace vandrel::test
