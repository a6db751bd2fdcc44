// What the end-to-end tests share: a private session namespace, a
// dictionary folder in a scratch folder where each test compiles its
// dictionaries, the real service started on demand with that folder (it
// ends when its last client has gone), the test process as a client of it,
// peer client processes, and runs of the `vandrel` program with its output
// captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/message_pump.h"
#include "client/service_connection.h"
#include "client/service_launcher.h"
#include "dictionary/charmap.h"
#include "dictionary/vocab_compiler.h"
#include "platform/process.h"
#include "platform/window.h"
#include "tests/e2e/peers/e2e_peer_protocol.h"
#include "tests/support/test_support.h"

namespace vandrel::test {

constexpr int kBoundMs = 20000;
constexpr std::uint16_t kEnglish = 1033;
constexpr std::uint16_t kRussian = 1049;

struct TEntry {
  WideString word;
  WideString trans;
};

// Entries whose translation is "<word> in <tag>", so that every
// translation tells which dictionary it came from.
inline std::vector<TEntry> Tagged(const char16_t* tag,
                                  std::initializer_list<const char16_t*> words) {
  std::vector<TEntry> entries;
  for (const char16_t* w : words) entries.push_back({w, WideString(w) + u" in " + tag});
  return entries;
}

// Waits for a window of another process by name (polled: no message
// announces it).
inline win::HWND WaitForWindow(const std::string& name) {
  win::HWND found = 0;
  const win::DWORD start = win::GetTickCount();
  while ((found = win::FindWindowA("STATIC", name.c_str())) == 0 &&
         win::GetTickCount() - start < static_cast<win::DWORD>(kBoundMs)) {
    win::Sleep(2);
  }
  return found;
}

class E2eTest : public ::testing::Test {
 protected:
  void TearDown() override {
    base_man_.reset();
    connection_.reset();
    for (const win::DWORD pid : std::vector<win::DWORD>(children_)) {
      if (!WaitChild(pid, 0, nullptr)) {
        win::KillProcess(pid, true);
        WaitChild(pid, kBoundMs, nullptr);
      }
    }
    // The service is no child of ours: never leave one behind.
    if (const win::HWND manager = client::FindManagerWindow()) {
      win::DWORD pid = 0;
      win::GetWindowThreadProcessId(manager, &pid);
      if (pid != 0) win::KillProcess(pid, true);
    }
  }

  const std::string& DicDir() const { return dic_.path(); }
  std::string DicPath(const std::string& name) const { return dic_.path() + "/" + name; }

  void Compile(const std::string& name, const std::vector<TEntry>& entries,
               bool compressed = false) {
    TVocabCompiler compiler;
    compiler.SetLanguage(kEnglish);
    compiler.SetTransLanguage(kRussian);
    compiler.SetCompressed(compressed);
    compiler.BeginCompile(DicPath(name));
    for (const TEntry& e : entries) compiler.AddWord(e.word, e.trans);
    compiler.EndCompile();
  }

  // The test process's connection: finds the service or starts it with the
  // scratch dictionary folder.
  client::TServiceConnection& Service() {
    if (!connection_) {
      client::TClientOptions options;
      options.Name = "e2e test";
      options.ServiceArgs = {DicDir()};
      connection_ = std::make_unique<client::TServiceConnection>(options);
    }
    return *connection_;
  }
  client::TBaseManClient& BaseMan() {
    if (!base_man_) base_man_.reset(new client::TBaseManClient(Service().BaseManWindow()));
    return *base_man_;
  }
  TOwnedPtr<client::TBaseSetClient> NewSet() { return BaseMan().NewBaseSet(); }

  // Starts a program of the bin folder as a child (waited for in TearDown).
  win::DWORD StartChild(const std::vector<std::string>& argv) {
    const win::DWORD pid = win::StartChildProcess(argv, state_.path());
    EXPECT_NE(pid, 0u) << argv[0];
    if (pid != 0) children_.push_back(pid);
    return pid;
  }
  // A peer client with a control window; its object for the test.
  TOwnedPtr<client::TRemoteObject> StartPeer(const std::string& name, win::DWORD* pid = nullptr) {
    const win::DWORD p = StartChild({BinDir() + "/vandrel_e2e_peer", name});
    if (pid != nullptr) *pid = p;
    const win::HWND control = WaitForWindow(name);
    EXPECT_NE(control, 0u) << "peer " << name << " did not come up";
    return TOwnedPtr<client::TRemoteObject>(new client::TRemoteObject(control));
  }
  // Waits for a child while answering the service (its client check and
  // notifications reach this process only while it pumps).
  bool WaitChild(win::DWORD pid, int timeout_ms, int* exit_code) {
    int code = -1;
    bool ended = win::WaitChildProcess(pid, 0, &code);
    if (!ended && timeout_ms != 0) {
      client::PumpMessagesUntil([&] { return (ended = win::WaitChildProcess(pid, 0, &code)); },
                                timeout_ms);
    }
    // A child is waited for once: its id may be reused afterwards.
    if (ended) std::erase(children_, pid);
    if (exit_code != nullptr) *exit_code = code;
    return ended;
  }

  struct TRun {
    int code = -1;
    std::string out;
    std::string err;
  };
  // Runs `vandrel args...` with its standard output and error captured.
  TRun RunVandrel(const std::vector<std::string>& args) {
    const std::string out = state_.path() + "/out.txt", err = state_.path() + "/err.txt";
    std::string command = Quote(BinDir() + "/vandrel");
    for (const std::string& a : args) {
      command += " ";
      command += Quote(a);
    }
    // Appended piece by piece: "literal" + string inserts at the front, a
    // copy GCC 12 at -O3 takes for an overlap (-Wrestrict).
    command += " >";
    command += Quote(out);
    command += " 2>";
    command += Quote(err);
    TRun run;
    const win::DWORD pid = StartChild({"/bin/sh", "-c", command});
    EXPECT_TRUE(WaitChild(pid, kBoundMs, &run.code)) << command;
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  ScopedRuntimeDir ns_;
  ScratchDir dic_{"vandrel-e2e-dic"};
  ScratchDir state_{"vandrel-e2e-state"};
  ScopedEnv state_home_{"XDG_STATE_HOME", state_.path().c_str()};
  ScopedEnv service_{"VANDREL_SERVICE", (BinDir() + "/vandrel-service").c_str()};

 private:
  static std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  }

  std::unique_ptr<client::TServiceConnection> connection_;
  TOwnedPtr<client::TBaseManClient> base_man_;
  std::vector<win::DWORD> children_;
};

}  // namespace vandrel::test
