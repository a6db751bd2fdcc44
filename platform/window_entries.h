// The window entries of the session namespace (runtime_dir.h): the counter
// that hands out window handles and endpoint ids, win/HWND (which endpoint,
// process and thread own a window) and name/NAME (the handle of a named
// window). Each entry is a symbolic link whose target text is the entry's
// content, so creating one is a single atomic call and a reader never sees
// half an entry:
//
// | entry        | target text              | created by                   |
// |--------------|--------------------------|------------------------------|
// | win/<hwnd>   | "<endpoint>:<pid>:<tid>" | the owner, before first use  |
// | name/<key>   | "<hwnd>"                 | the owner, under name.lock   |
// | ep/<id>      | (a listening socket)     | the owner thread (endpoint.h)|
// | hwnd.next    | 4-byte counter file      | the first process, by link() |
//
// <key> is the window name lower-cased (names compare without case, as
// window names do), with every byte outside [a-z0-9_.-] written as %XX.
// Entries of a process that died stay behind until somebody meets them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/win_types.h"

namespace vandrel::win::detail {

struct WindowOwner {
  std::uint32_t endpoint = 0;
  DWORD pid = 0;
  DWORD tid = 0;
};

// The next number of the namespace counter: never 0, never 0xFFFFFFFF, never
// handed out twice while the namespace exists, across all processes. 0 on
// failure (last error set).
std::uint32_t NextNamespaceNumber(const std::string& dir);

std::string EndpointPath(const std::string& dir, std::uint32_t endpoint);

bool CreateWindowEntry(const std::string& dir, HWND hwnd, const WindowOwner& owner);
std::optional<WindowOwner> ReadWindowEntry(const std::string& dir, HWND hwnd);
void RemoveWindowEntry(const std::string& dir, HWND hwnd);

// The entry key of a window name; empty when the name cannot be an entry
// (too long).
std::string WindowNameKey(const std::string& name);

// Serialises creating and reclaiming name entries among processes: held
// while a process checks whether a name's owner lives and takes the name.
// Released on destruction (or by the system when the holder dies).
class NameLock {
 public:
  explicit NameLock(const std::string& dir);
  ~NameLock();
  NameLock(const NameLock&) = delete;
  NameLock& operator=(const NameLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// False with ERROR_ALREADY_EXISTS when the name entry exists.
bool CreateNameEntry(const std::string& dir, const std::string& key, HWND hwnd);
std::optional<HWND> ReadNameEntry(const std::string& dir, const std::string& key);
void RemoveNameEntry(const std::string& dir, const std::string& key);

}  // namespace vandrel::win::detail
