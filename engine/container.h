// TEntireDataBase: one open base container (the format is in
// container_format.h), mapped whole, holding the inner files of an engine
// database.
//
// API in brief:
//   auto db = TEntireDataBase::Create(path);  // new 8192-byte container,
//                                             // created exclusively, kept open
//   auto db = TEntireDataBase::Open(path);    // existing file, exclusive
//   int slot = db->CreateInner("T.DAT", attributes, flags);  // >= 1
//   int slot = db->OpenInner("T.DAT", flags);  // -1 when absent
//   db->ReadAt(slot, position, buffer, count) / WriteAt(...) / SetInnerSize()
//   db->CloseInner(slot);  // the last close of a delete-on-close file deletes it
//   db.reset();            // deletes delete-on-close files, unmaps, cuts the
//                          // spare pages, closes (a ".tmp" file is removed)
//
// Failures: Open and Create raise EOSError for the platform's refusals
// (ERROR_SHARING_VIOLATION while another process holds the file) and
// EContainerError for damage ("Invalid base file", "Incorrect base
// signature", "Incorrect base version", "Wrong base size") and "Mapping
// Error". Inner operations report damage found on the way with
// EContainerError too; growth refused by a full disk makes WriteAt return
// fewer bytes with win::GetLastError() == ERROR_DISK_FULL and leaves the
// container as it was.
//
// Only one process ever opens a container (exclusive share mode, advisory
// locks: containers must live on local filesystems). The object is used on
// the engine's thread only. Slots and their page lists are owned here; the
// mapping moves on growth, so no pointer into it is kept across calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/unique_handle.h"
#include "platform/win_types.h"

namespace vandrel::engine {

// Damage of a container or a failed mapping, with the container's messages.
class EContainerError : public Exception {
 public:
  using Exception::Exception;
};

// Flag bits of CreateInner / OpenInner (the platform's CreateFile flag word).
constexpr win::DWORD kInnerDeleteOnClose = 0x04000000;

// One inner file as listed.
struct TInnerFileInfo {
  std::string name;
  std::uint32_t attributes = 0;
  std::int32_t first_page = -1;
  std::int64_t size = 0;
  std::int64_t pages = 0;
};

// The comparison form of an inner name: blanks trimmed, cut to 63 bytes,
// upper-cased as English (USA) in code page 1252.
std::string InnerNameKey(const std::string& name);

class TEntireDataBase {
 public:
  static std::unique_ptr<TEntireDataBase> Create(const std::string& path);
  static std::unique_ptr<TEntireDataBase> Open(const std::string& path);
  ~TEntireDataBase();
  TEntireDataBase(const TEntireDataBase&) = delete;
  TEntireDataBase& operator=(const TEntireDataBase&) = delete;

  const std::string& Path() const { return path_; }
  // The file name ends in ".tmp" (any case): removed when it closes, and
  // never flushed.
  bool Temporary() const { return temporary_; }

  bool Exists(const std::string& name) const;
  // The entry's attribute word, or -1 (last error ERROR_FILE_NOT_FOUND).
  std::int64_t Attributes(const std::string& name) const;
  // Deletes any file of that name first. Returns the slot (>= 1). A name
  // that is empty after trimming: -1 with ERROR_INVALID_NAME.
  int CreateInner(const std::string& name, win::DWORD attributes, win::DWORD flags);
  // The slot (>= 1), or -1 with ERROR_FILE_NOT_FOUND. Opening an open file
  // again returns its slot with one more reference.
  int OpenInner(const std::string& name, win::DWORD flags);
  void CloseInner(int slot);
  // 0, ERROR_FILE_NOT_FOUND, or ERROR_SHARING_VIOLATION while it is open.
  win::DWORD DeleteInner(const std::string& name);
  // Gives a closed inner file another name: 0, ERROR_FILE_NOT_FOUND,
  // ERROR_SHARING_VIOLATION while it is open, ERROR_ALREADY_EXISTS when
  // another file has the new name, ERROR_INVALID_NAME for an empty one.
  win::DWORD RenameInner(const std::string& name, const std::string& new_name);

  std::int64_t InnerSize(int slot) const;
  // Bytes copied; 0 at or past the end (a position past a size that another
  // handle cut copies nothing).
  std::int64_t ReadAt(int slot, std::int64_t position, void* buffer, std::int64_t count);
  // count, or 0 with the last error set: ERROR_DISK_FULL when the disk or
  // the 2^31 - 1 byte limit of an inner file refuses the growth; nothing is
  // changed then.
  std::int64_t WriteAt(int slot, std::int64_t position, const void* buffer, std::int64_t count);
  // Cuts the file (freeing its pages past the new end) or extends it with
  // zeros. false with the last error set when growth is refused.
  bool SetInnerSize(int slot, std::int64_t size);

  // Slots in use, and the references of one slot (0 when free).
  int OpenSlotCount() const;
  int SlotReferences(int slot) const;
  std::vector<TInnerFileInfo> List() const;

  // Writes the pages changed since the last flush to the disk (msync of the
  // dirty range, fdatasync after growth). Temporary containers skip it.
  // false with the last error set when the system refuses.
  bool Flush();
  bool Dirty() const { return dirty_low_ <= dirty_high_ || grown_; }

  std::int32_t PageCount() const;
  std::int32_t TableEnd() const;
  // The mapped bytes of pages 0 .. PageCount() - 1 (valid until the next
  // growth).
  const std::uint8_t* Bytes() const { return map_; }

 private:
  struct Slot {
    std::string key;  // empty: free
    std::int32_t dir_page = -1;
    std::int32_t dir_entry = 0;
    int references = 0;
    bool delete_on_close = false;
    std::vector<std::int32_t> pages;  // the chain, in order
  };

  explicit TEntireDataBase(std::string path);
  void OpenFile(bool create);
  void Map(std::int64_t pages);
  void Unmap();
  void CloseFile() noexcept;

  std::uint8_t* Page(std::int32_t n) const { return map_ + n * 4096LL; }
  std::int32_t& Entry(std::int32_t n) const;
  void SetEntry(std::int32_t n, std::int32_t value);
  std::uint8_t* DirEntry(std::int32_t page, std::int32_t entry) const;
  void SetPageCount(std::int32_t n);
  void SetTableEnd(std::int32_t n);
  std::int32_t FirstDirPage() const;
  void SetFirstDirPage(std::int32_t n);

  bool FindEntry(const std::string& key, std::int32_t* page, std::int32_t* entry) const;
  std::vector<std::int32_t> DirChain() const;
  // The chain from first, checked: every page in range, no loop, exactly
  // `expected` pages when expected >= 0.
  std::vector<std::int32_t> Chain(std::int32_t first, std::int64_t expected) const;

  // Returns a zero-filled free page (its entry still 0), growing the
  // container (and moving a page when the table grows) when none is free.
  // Every page number read before the call may have moved: read again.
  // -1 with the last error set when the growth is refused.
  std::int32_t TakeFreePage();
  bool AppendPage();
  bool GrowTable();
  void FreeChainAfter(std::vector<std::int32_t>& pages, std::size_t keep);
  void Touch(std::int32_t page);
  // Cold pages: handed out fresh by growth and so far used only through the
  // file. Writing or reading them through the file costs no page fault; a
  // page used kColdUses times goes through the mapping from then on.
  // Warm(p) says whether page p goes through the mapping (counting a use
  // when it does not); MakeWarm(p) before touching a page through the
  // mapping in any other way.
  bool Warm(std::int32_t page);
  void MakeWarm(std::int32_t page) {
    if (static_cast<std::size_t>(page) < cold_.size()) cold_[page] = 0;
  }
  // A transfer of *n bytes (at most `left`) starting on the cold page
  // pages[index] is extended over the cold pages that follow it both in the
  // chain and in the container; *n grows to cover them. Returns the run's
  // last page.
  std::int32_t ExtendColdRun(const std::vector<std::int32_t>& pages, std::size_t index,
                             std::int64_t left, std::int64_t* n);
  // Moves bytes between the file and the buffer at a container byte
  // position; false when the system refused (the caller uses the mapping).
  bool FileTransfer(std::int64_t at, void* buffer, std::int64_t count, bool write);
  void DeleteEntry(std::int32_t page, std::int32_t entry);

  std::string path_;
  bool temporary_ = false;
  win::UniqueHandle file_;
  win::UniqueHandle mapping_;
  win::UniqueView view_;
  std::uint8_t* map_ = nullptr;  // view_'s bytes, null when nothing is mapped
  std::int64_t mapped_pages_ = 0;
  std::vector<Slot> slots_;  // slot 0 never used
  std::int32_t free_hint_ = 0;
  std::int32_t dirty_low_ = 0x7FFFFFFF;
  std::int32_t dirty_high_ = -1;
  bool grown_ = false;
  bool file_writes_ = false;        // written through the file since the last flush
  std::vector<std::uint8_t> cold_;  // per page: 0 warm, else 1 + uses through the file
};

}  // namespace vandrel::engine
