// The service's entry routine, idle timer and main loop.
#include "service/service_main.h"

#include <cstdio>
#include <exception>

#include "platform/exceptions.h"
#include "platform/process.h"
#include "platform/window.h"
#include "service/link_object.h"
#include "service/manager.h"
#include "service/service_options.h"
#include "service/transfer_man.h"

namespace vandrel {
namespace {

// Thread timer of the idle check; 0 when none is armed.
win::UINT_PTR idle_timer_id = 0;
// Set when the idle timer posted WM_QUIT.
bool idle_quit_posted = false;

// Runs once: the timer is killed before the flag is tested.
void IdleTimerProc(win::HWND, win::UINT, win::UINT_PTR, win::DWORD) {
  win::KillTimer(0, idle_timer_id);
  idle_timer_id = 0;
  if (!WasConnected()) {
    idle_quit_posted = true;
    win::PostQuitMessage(0);
  }
}

void ReportLoopError(win::HWND window, const char* text) {
  win::MessageBoxA(window, text, "Vandrel", win::MB_ICONERROR);
}

bool IsIdleTimerMessage(const win::MSG& msg) {
  return msg.hwnd == 0 && msg.message == win::WM_TIMER && idle_timer_id != 0 &&
         msg.wParam == idle_timer_id;
}

}  // namespace

void RunServiceLoop(win::HWND report_window) {
  win::MSG msg;
  for (;;) {
    if (win::GetMessageA(&msg, 0, 0, 0) == 0) {
      // The idle timer decided before a first client's connect was handled
      // (the platform delivers a sent message that is already waiting
      // before it returns WM_QUIT): the service now has a client to serve.
      if (idle_quit_posted && WasConnected() && ManagerAlive()) {
        idle_quit_posted = false;
        continue;
      }
      return;
    }
    if (msg.hwnd == 0 && !IsIdleTimerMessage(msg)) continue;
    try {
      win::TranslateMessage(&msg);
      win::DispatchMessageA(&msg);
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
      // The manager's window may be gone by now; its handle is only a
      // number here, never a pointer.
      ReportLoopError(report_window, e.what());
    }
  }
}

int ServiceMain(const std::vector<std::string>& args) {
  // A few descriptors per client: a low soft limit must not be what
  // refuses the next client.
  win::RaiseDescriptorLimit();
  // A client that does not answer a notification within one check period
  // counts as gone, as the client check already takes it.
  TLinkObject::SetQueryTimeout(static_cast<int>(kClientCheckPeriodMs), true);
  const TServiceOptions options = ParseServiceCommandLine(args);
  SetDictionaryFolder(options.DictionaryFolder);
  if (!options.Stay) idle_timer_id = win::SetTimer(0, 0, kIdleTimeoutMs, &IdleTimerProc);

  TManager* manager = nullptr;
  try {
    manager = new TManager(nullptr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vandrel-service: %s\n", e.what());
    return 1;
  }
  RunServiceLoop(manager->Handle());

  // A service that ends without a client (the idle timer) still has its
  // manager: free it, so that its window leaves the namespace now.
  if (ManagerAlive()) manager->Free();
  FreeRetiredTransfers();
  return 0;
}

}  // namespace vandrel
