// TDataSession: one engine session: its settings, the passwords it knows
// (and the callback asked for a missing one), its private folder and the
// database directories it has open.
//
// An encrypted table opens only in a session that knows its password
// (10498 "Insufficient rights ..." otherwise), checked at every open of a
// cursor, also when the table object is already open and shared.
//
// The private folder is the service's state folder (the folder relative
// database names are taken against); an empty database name means it.
// Directories are shared by name within a session and counted: each
// OpenDirectory is matched by one CloseDirectory, and the last close frees
// the directory, which must have no open tables by then.
//
// Sessions, directories, tables and cursors are used on the engine thread
// only; two sessions of one process see each other's posted changes
// through the files' change counts.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vandrel::engine {

class TDataDirectory;

class TDataSession {
 public:
  TDataSession();
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  const std::string& PrivateDir() const { return private_dir_; }
  void SetPrivateDir(std::string dir) { private_dir_ = std::move(dir); }

  // Settings kept for the callers that set them; record locks inside
  // containers always succeed.
  bool strict_change_detection = false;
  bool force_buffer_flush = false;
  int lock_retry_count = 15;
  int lock_wait_ms = 100;

  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords() { passwords_.clear(); }
  // Case-sensitive.
  bool KnowsPassword(const std::string& password) const;

  // Asked, with the table's name, while an encrypted table's password is
  // not among the session's: it adds passwords (AddPassword) and returns
  // true to have them tried, or returns false to give up.
  using PasswordCallback = std::function<bool(const std::string& table)>;
  void SetPasswordCallback(PasswordCallback callback) { password_callback_ = std::move(callback); }
  // Whether the session knows stored (the table's password), asking the
  // callback while it does not; a callback that never gives up is asked at
  // most kMaxPasswordAsks times.
  bool ObtainPassword(const std::string& stored, const std::string& table);
  static constexpr int kMaxPasswordAsks = 100;

  // "MEMORY" (any case) names the in-memory database; any other name a
  // folder or a base container ("Updates.tmp\"). The reference stays valid
  // until the matching CloseDirectory.
  TDataDirectory& OpenDirectory(const std::string& name);
  void CloseDirectory(TDataDirectory& dir);
  std::size_t DirectoryCount() const { return directories_.size(); }

 private:
  std::string private_dir_;
  std::vector<std::string> passwords_;
  PasswordCallback password_callback_;
  struct Entry {
    std::unique_ptr<TDataDirectory> dir;
    int references = 0;
  };
  std::map<std::string, Entry> directories_;
};

}  // namespace vandrel::engine
