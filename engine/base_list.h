// TBaseList: the process-wide list of open base containers, the resolution
// of engine file names to containers, the deferred close of idle containers
// and the 10-second flush of persistent ones.
//
// Engine file names: the text after the last '\' is the inner name, the text
// before it the container path, an OS path with '/' made absolute against
// the base folder (default: the working directory at first use). A path
// naming an existing folder means the container "Database.tmp" inside it.
// Container paths compare exactly in canonical form; the list is searched
// before the disk, so a container is never opened twice in a process.
//
// Lifetime: the list owns its containers. A container whose last inner file
// closes is closed at the engine thread's next idle point (a thread timer
// of the platform's message loop; it never pumps messages), after checking
// again that no inner file was opened meanwhile; callers without a message
// loop call CloseIdle(). Containers named "*.tmp" are removed from disk when
// they close; a leftover one (its process was killed) is removed by its next
// user, while one held by a live process gives ERROR_SHARING_VIOLATION.
//
// Engine thread only; the list itself has a lock for its bookkeeping.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/container.h"

namespace vandrel::engine {

constexpr char kDefaultContainerName[] = "Database.tmp";

// Splits an engine file name. 0, or kInvalidPath (11010) when there is no
// '\', the inner name is empty, or the container path holds another '\'.
int SplitEngineName(const std::string& name, std::string* container, std::string* inner);
// The canonical absolute form of a container path (with "Database.tmp"
// appended for an existing folder).
std::string CanonicalContainerPath(const std::string& path);

class TBaseList {
 public:
  static TBaseList& Global();
  ~TBaseList();

  // The folder relative container paths are taken against.
  void SetBaseFolder(const std::string& folder);
  std::string BaseFolder() const;

  // The open container of a canonical path, or null.
  TEntireDataBase* Find(const std::string& path) const;
  // The open container, opening it, or creating it (with its missing
  // folders) when create is set. Raises EOSError (ERROR_FILE_NOT_FOUND when
  // absent and !create) or EContainerError.
  TEntireDataBase* Resolve(const std::string& path, bool create);

  // Told when a container's last inner file closed: schedules its close.
  void NoteIdle(TEntireDataBase* db);
  // Closes every container with no open inner file now; returns how many.
  int CloseIdle();
  // Closes the container of that path now if it is idle; true when it is
  // not open any more.
  bool CloseIfIdle(const std::string& path);
  // Closes everything (engine end): no file object may use a container
  // afterwards.
  void CloseAll();
  // Flushes every persistent container written since its last flush.
  void FlushAll();
  std::size_t Count() const;

 private:
  TBaseList() = default;
  void ArmFlushTimer();

  mutable std::mutex lock_;
  std::string base_folder_;
  std::vector<std::unique_ptr<TEntireDataBase>> list_;
  bool idle_timer_armed_ = false;
  bool flush_timer_armed_ = false;
};

}  // namespace vandrel::engine
