// The open base container: mapping, checks at open, page allocation with
// table growth, inner-file chains, directory and close.
#include "engine/container.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/container_check.h"
#include "engine/container_format.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/handle.h"
#include "platform/mapping.h"
#include "platform/nls.h"

namespace vandrel::engine {
namespace {

using namespace container;

// Pages mapped (and reserved on disk) beyond the page count, so that most
// appends need no remap: at least 64, and an eighth of the container, so
// that growing to n pages remaps O(log n) times (each remap costs in
// proportion to the pages mapped). A clean close cuts them.
constexpr std::int64_t kSparePages = 64;
std::int64_t SpareFor(std::int64_t pages) { return std::max(kSparePages, pages / 8); }

// Uses of a cold page through the file before it moves to the mapping: a
// page written or read again and again (an index page, the last page of a
// data file) is cheaper through the mapping once it is faulted in.
constexpr std::uint8_t kColdUses = 4;

bool EndsWithTmp(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".tmp";
}

// The stored form of a name: cut at a NUL, blanks trimmed, cut to 63 bytes.
std::string StoredName(const std::string& name) {
  std::string s = name.substr(0, name.find('\0'));
  std::size_t b = 0;
  while (b < s.size() && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  std::size_t e = s.size();
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  s = s.substr(b, e - b);
  if (s.size() > static_cast<std::size_t>(kMaxNameLength)) s.resize(kMaxNameLength);
  return s;
}

[[noreturn]] void RaiseOS(win::DWORD code) { throw OSError(code); }

}  // namespace

std::string InnerNameKey(const std::string& name) {
  std::string s = StoredName(name);
  if (s.empty()) return s;
  std::string out(s.size(), '\0');
  int n = win::LCMapStringA(0x0409, win::LCMAP_UPPERCASE, s.data(), static_cast<int>(s.size()),
                            out.data(), static_cast<int>(out.size()));
  if (n <= 0) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }
  out.resize(static_cast<std::size_t>(n));
  return out;
}

TEntireDataBase::TEntireDataBase(std::string path)
    : path_(std::move(path)), temporary_(EndsWithTmp(path_)), slots_(1) {}

std::unique_ptr<TEntireDataBase> TEntireDataBase::Create(const std::string& path) {
  std::unique_ptr<TEntireDataBase> db(new TEntireDataBase(path));
  db->OpenFile(true);
  return db;
}

std::unique_ptr<TEntireDataBase> TEntireDataBase::Open(const std::string& path) {
  std::unique_ptr<TEntireDataBase> db(new TEntireDataBase(path));
  db->OpenFile(false);
  return db;
}

void TEntireDataBase::OpenFile(bool create) {
  win::DWORD flags = temporary_ ? (win::FILE_FLAG_DELETE_ON_CLOSE | win::FILE_ATTRIBUTE_TEMPORARY)
                                : win::FILE_ATTRIBUTE_NORMAL;
  // Created with "new" semantics and kept open: nobody can open or replace
  // the file between its creation and our use.
  file_.reset(win::CreateFileA(path_.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                               create ? win::CREATE_NEW : win::OPEN_EXISTING, flags, nullptr));
  if (!file_) RaiseOS(win::GetLastError());
  try {
    std::uint8_t header[kPageSize] = {};
    if (create) {
      std::uint8_t empty[2 * kPageSize] = {};
      PutI32(empty + kSignatureOffset, static_cast<std::int32_t>(kSignature));
      PutI32(empty + kVersionOffset, kVersion);
      PutI32(empty + kPageCountOffset, 2);
      PutI32(empty + kTableEndOffset, 2);
      PutI32(empty + kFirstDirPageOffset, -1);
      PutI32(empty + kPageSize, -1);
      PutI32(empty + kPageSize + 4, -1);
      win::DWORD written = 0;
      if (!win::WriteFile(file_.get(), empty, sizeof(empty), &written, nullptr)) {
        RaiseOS(win::GetLastError());
      }
      std::memcpy(header, empty, sizeof(header));
    }
    win::DWORD high = 0;
    win::DWORD low = win::GetFileSize(file_.get(), &high);
    if (low == win::INVALID_FILE_SIZE && win::GetLastError() != win::ERROR_SUCCESS) {
      RaiseOS(win::GetLastError());
    }
    std::uint64_t size = (static_cast<std::uint64_t>(high) << 32) | low;
    if (!create) {
      win::DWORD got = 0;
      if (!win::ReadFile(file_.get(), header, sizeof(header), &got, nullptr)) {
        RaiseOS(win::GetLastError());
      }
      if (got < sizeof(header)) throw EContainerError("Invalid base file");
      if (GetI32(header + kSignatureOffset) != static_cast<std::int32_t>(kSignature)) {
        throw EContainerError("Incorrect base signature");
      }
      if (GetI32(header + kVersionOffset) != kVersion) {
        throw EContainerError("Incorrect base version");
      }
      std::int32_t count = GetI32(header + kPageCountOffset);
      if (count < 2 || static_cast<std::uint64_t>(count) * kPageSize > size) {
        throw EContainerError(count < 2 ? "Invalid base file" : "Wrong base size");
      }
    }
    std::int32_t count = GetI32(header + kPageCountOffset);
    std::int64_t want =
        std::max<std::int64_t>(count + kSparePages, static_cast<std::int64_t>(size / kPageSize));
    if (!create) want = count + kSparePages;
    Map(want);
    if (map_ == nullptr) throw EContainerError("Mapping Error");
    if (!create) {
      std::uint64_t checked = std::min<std::uint64_t>(size - size % kPageSize,
                                                      static_cast<std::uint64_t>(want) * kPageSize);
      TContainerReport report = CheckContainerBytes(map_, checked);
      if (report.Fatal()) throw EContainerError("Invalid base file");
      // Growth hands out pages beyond the page count as they are: they
      // must be zero.
      std::uint8_t* spare = map_ + static_cast<std::int64_t>(count) * kPageSize;
      std::size_t spare_bytes = static_cast<std::size_t>((want - count) * kPageSize);
      for (std::size_t i = 0; i < spare_bytes; ++i) {
        if (spare[i] != 0) {
          std::memset(spare + i, 0, spare_bytes - i);
          break;
        }
      }
    }
    free_hint_ = TableEnd();
  } catch (...) {
    Unmap();
    CloseFile();
    if (create && !temporary_) win::DeleteFileA(path_.c_str());
    throw;
  }
}

void TEntireDataBase::Map(std::int64_t pages) {
  std::uint64_t bytes = static_cast<std::uint64_t>(pages) * kPageSize;
  win::UniqueHandle mapping(win::CreateFileMappingA(file_.get(), nullptr, win::PAGE_READWRITE,
                                                    static_cast<win::DWORD>(bytes >> 32),
                                                    static_cast<win::DWORD>(bytes), nullptr));
  if (!mapping) return;  // the old mapping stays; last error says why
  const std::int64_t had = mapped_pages_;
  if (map_ != nullptr && pages > had) {
    // Growth keeps the pages already mapped: no new faults on them. The
    // spare pages are cold (see Warm) until used often.
    if (void* grown = win::GrowViewOfFile(map_, mapping.get())) {
      // The old view became the grown one: it is not unmapped again.
      (void)view_.release();
      view_.reset(grown);
      mapping_ = std::move(mapping);
      map_ = view_.bytes();
      mapped_pages_ = pages;
      return;
    }
  }
  win::UniqueView view(win::MapViewOfFile(mapping.get(), win::FILE_MAP_WRITE, 0, 0, 0));
  if (!view) {
    win::DWORD error = win::GetLastError();
    mapping.reset();
    win::SetLastError(error);
    return;
  }
  Unmap();
  mapping_ = std::move(mapping);
  view_ = std::move(view);
  map_ = view_.bytes();
  mapped_pages_ = pages;
}

void TEntireDataBase::Unmap() {
  map_ = nullptr;
  view_.reset();
  mapping_.reset();
  mapped_pages_ = 0;
}

void TEntireDataBase::CloseFile() noexcept { file_.reset(); }

TEntireDataBase::~TEntireDataBase() {
  if (map_ != nullptr) {
    try {
      for (std::size_t s = 1; s < slots_.size(); ++s) {
        if (!slots_[s].key.empty() && slots_[s].delete_on_close) {
          std::int32_t page = slots_[s].dir_page;
          std::int32_t entry = slots_[s].dir_entry;
          slots_[s] = Slot{};
          DeleteEntry(page, entry);
        }
      }
    } catch (const std::exception&) {
      // Damage found while deleting: the file is closed as it stands.
    }
    std::int64_t end = static_cast<std::int64_t>(PageCount()) * kPageSize;
    if (!temporary_) Flush();
    // Unmap first: the platform, like the system it stands for, refuses to
    // cut a mapped file.
    Unmap();
    if (!temporary_) {
      win::LONG high = static_cast<win::LONG>(end >> 32);
      if (win::SetFilePointer(file_.get(), static_cast<win::LONG>(end & 0xFFFFFFFF), &high,
                              win::FILE_BEGIN) != win::INVALID_SET_FILE_POINTER ||
          win::GetLastError() == win::ERROR_SUCCESS) {
        win::SetEndOfFile(file_.get());
      }
    }
  }
  CloseFile();
}

// ---- raw access ----

std::int32_t TEntireDataBase::PageCount() const { return GetI32(map_ + kPageCountOffset); }
std::int32_t TEntireDataBase::TableEnd() const { return GetI32(map_ + kTableEndOffset); }
std::int32_t TEntireDataBase::FirstDirPage() const { return GetI32(map_ + kFirstDirPageOffset); }

void TEntireDataBase::SetPageCount(std::int32_t n) {
  PutI32(map_ + kPageCountOffset, n);
  Touch(0);
}
void TEntireDataBase::SetTableEnd(std::int32_t n) {
  PutI32(map_ + kTableEndOffset, n);
  Touch(0);
}
void TEntireDataBase::SetFirstDirPage(std::int32_t n) {
  PutI32(map_ + kFirstDirPageOffset, n);
  Touch(0);
}

std::int32_t& TEntireDataBase::Entry(std::int32_t n) const {
  return *reinterpret_cast<std::int32_t*>(map_ + kPageSize + n * 4LL);
}

void TEntireDataBase::SetEntry(std::int32_t n, std::int32_t value) {
  Entry(n) = value;
  Touch(1 + n / kEntriesPerTablePage);
}

std::uint8_t* TEntireDataBase::DirEntry(std::int32_t page, std::int32_t entry) const {
  return Page(page) + entry * kDirEntrySize;
}

void TEntireDataBase::Touch(std::int32_t page) {
  dirty_low_ = std::min(dirty_low_, page);
  dirty_high_ = std::max(dirty_high_, page);
}

// ---- chains and directory ----

std::vector<std::int32_t> TEntireDataBase::Chain(std::int32_t first, std::int64_t expected) const {
  std::vector<std::int32_t> pages;
  std::int32_t count = PageCount();
  std::int32_t end = TableEnd();
  std::int32_t p = first;
  while (p != kEndOfChain) {
    if (p < end || p >= count || static_cast<std::int64_t>(pages.size()) >= count) {
      throw EContainerError("Invalid base file");
    }
    pages.push_back(p);
    p = Entry(p);
    if (p == kFreePage) throw EContainerError("Invalid base file");
  }
  if (expected >= 0 && static_cast<std::int64_t>(pages.size()) != expected) {
    throw EContainerError("Invalid base file");
  }
  return pages;
}

std::vector<std::int32_t> TEntireDataBase::DirChain() const {
  std::int32_t head = FirstDirPage();
  if (head == -1) return {};
  return Chain(head, -1);
}

bool TEntireDataBase::FindEntry(const std::string& key, std::int32_t* page,
                                std::int32_t* entry) const {
  win::SetLastError(win::ERROR_SUCCESS);
  if (!key.empty()) {
    for (std::int32_t p : DirChain()) {
      for (std::int32_t e = 0; e < kDirEntriesPerPage; ++e) {
        const std::uint8_t* d = DirEntry(p, e);
        if (d[0] == 0) continue;
        std::string name(reinterpret_cast<const char*>(d),
                         strnlen(reinterpret_cast<const char*>(d), kMaxNameLength));
        if (InnerNameKey(name) == key) {
          *page = p;
          *entry = e;
          return true;
        }
      }
    }
  }
  win::SetLastError(win::ERROR_FILE_NOT_FOUND);
  return false;
}

bool TEntireDataBase::Exists(const std::string& name) const {
  std::int32_t p = 0;
  std::int32_t e = 0;
  return FindEntry(InnerNameKey(name), &p, &e);
}

std::int64_t TEntireDataBase::Attributes(const std::string& name) const {
  std::int32_t p = 0;
  std::int32_t e = 0;
  if (!FindEntry(InnerNameKey(name), &p, &e)) return -1;
  return static_cast<std::uint32_t>(GetI32(DirEntry(p, e) + kAttributesOffset));
}

std::vector<TInnerFileInfo> TEntireDataBase::List() const {
  std::vector<TInnerFileInfo> out;
  for (std::int32_t p : DirChain()) {
    for (std::int32_t e = 0; e < kDirEntriesPerPage; ++e) {
      const std::uint8_t* d = DirEntry(p, e);
      if (d[0] == 0) continue;
      TInnerFileInfo info;
      info.name.assign(reinterpret_cast<const char*>(d),
                       strnlen(reinterpret_cast<const char*>(d), kMaxNameLength));
      info.attributes = static_cast<std::uint32_t>(GetI32(d + kAttributesOffset));
      info.first_page = GetI32(d + kFirstPageOffset);
      info.size = GetI32(d + kSizeOffset);
      info.pages = (info.size + kPageSize - 1) / kPageSize;
      out.push_back(info);
    }
  }
  return out;
}

// ---- allocation ----

bool TEntireDataBase::GrowTable() {
  const std::int32_t a = TableEnd();
  const std::int32_t n = PageCount();
  if (n >= kMaxPageCount - 1) {
    win::SetLastError(win::ERROR_DISK_FULL);
    return false;
  }
  // (1) page n must exist before anything changes.
  if (mapped_pages_ < static_cast<std::int64_t>(n) + 1) {
    Map(static_cast<std::int64_t>(n) + 1 + SpareFor(n));
    if (mapped_pages_ < static_cast<std::int64_t>(n) + 1) return false;
  }
  // (2) move page a to page n.
  const std::int32_t e = Entry(a);
  bool first_of_chain = FirstDirPage() == a;
  if (e != kFreePage && !first_of_chain) {
    for (std::int32_t p : DirChain()) {
      for (std::int32_t k = 0; k < kDirEntriesPerPage && !first_of_chain; ++k) {
        const std::uint8_t* d = DirEntry(p, k);
        first_of_chain = d[0] != 0 && GetI32(d + kFirstPageOffset) == a;
      }
    }
  }
  MakeWarm(a);
  MakeWarm(n);
  std::memcpy(Page(n), Page(a), kPageSize);
  std::memset(Page(a), 0, kPageSize);
  Touch(a);
  Touch(n);
  // (3) page a is now the table's last page; its entries (n among them) are
  // zero, as every entry of a page beyond the page count must be.
  SetTableEnd(a + 1);
  // (4) page n takes page a's place in its chain and everywhere it is named.
  SetEntry(n, e);
  SetEntry(a, kEndOfChain);
  if (e != kFreePage) {
    // Page a has at most one predecessor. Open files name it in their page
    // lists (where it stands early, as a low page); take it from there, else
    // scan the table.
    std::int32_t predecessor = -1;
    for (Slot& s : slots_) {
      auto it = std::find(s.pages.begin(), s.pages.end(), a);
      if (it == s.pages.end()) continue;
      if (it == s.pages.begin()) {
        first_of_chain = true;
      } else {
        predecessor = *(it - 1);
      }
      *it = n;  // the list keeps its order: page n stands where page a stood
    }
    if (predecessor < 0 && !first_of_chain) {
      for (std::int32_t p = a + 1; p < n; ++p) {
        if (Entry(p) == a) {
          predecessor = p;
          break;
        }
      }
    }
    if (predecessor >= 0) SetEntry(predecessor, n);
    if (FirstDirPage() == a) SetFirstDirPage(n);
  }
  // (5) the page count takes page n in.
  SetPageCount(n + 1);
  if (e != kFreePage) {
    for (std::int32_t p : DirChain()) {
      for (std::int32_t k = 0; k < kDirEntriesPerPage; ++k) {
        std::uint8_t* d = DirEntry(p, k);
        if (d[0] != 0 && GetI32(d + kFirstPageOffset) == a) {
          PutI32(d + kFirstPageOffset, n);
          Touch(p);
        }
      }
    }
    for (Slot& s : slots_) {
      if (!s.key.empty() && s.dir_page == a) s.dir_page = n;
    }
  }
  if (free_hint_ <= a) free_hint_ = a + 1;
  if (e == kFreePage) free_hint_ = std::min(free_hint_, n);  // page n is free
  grown_ = true;
  return true;
}

bool TEntireDataBase::AppendPage() {
  if (PageCount() % kEntriesPerTablePage == 0 && !GrowTable()) return false;
  const std::int32_t n = PageCount();
  if (n >= kMaxPageCount) {
    win::SetLastError(win::ERROR_DISK_FULL);
    return false;
  }
  if (mapped_pages_ < static_cast<std::int64_t>(n) + 1) {
    Map(static_cast<std::int64_t>(n) + 1 + SpareFor(n));
    if (mapped_pages_ < static_cast<std::int64_t>(n) + 1) return false;
  }
  // Pages beyond the page count are zero (reserved fresh, cut at close,
  // zeroed at open when damage left bytes there): no need to clear page n.
  Entry(n) = kFreePage;
  SetPageCount(n + 1);
  Touch(n);
  grown_ = true;
  if (cold_.size() <= static_cast<std::size_t>(n)) cold_.resize(static_cast<std::size_t>(n) + 1, 0);
  cold_[static_cast<std::size_t>(n)] = 1;
  return true;
}

bool TEntireDataBase::Warm(std::int32_t page) {
  if (static_cast<std::size_t>(page) >= cold_.size() || cold_[page] == 0) return true;
  if (++cold_[page] > kColdUses) {
    // From now on through the mapping: one call maps the page rather than
    // a fault at its first touch.
    cold_[page] = 0;
    win::PrefetchViewRange(Page(page), kPageSize);
    return true;
  }
  return false;
}

bool TEntireDataBase::FileTransfer(std::int64_t at, void* buffer, std::int64_t count, bool write) {
  win::LONG high = static_cast<win::LONG>(at >> 32);
  win::SetLastError(win::ERROR_SUCCESS);
  if (win::SetFilePointer(file_.get(), static_cast<win::LONG>(at & 0xFFFFFFFF), &high,
                          win::FILE_BEGIN) == win::INVALID_SET_FILE_POINTER &&
      win::GetLastError() != win::ERROR_SUCCESS) {
    return false;
  }
  win::DWORD moved = 0;
  const win::DWORD n = static_cast<win::DWORD>(count);
  const bool ok = write ? win::WriteFile(file_.get(), buffer, n, &moved, nullptr)
                        : win::ReadFile(file_.get(), buffer, n, &moved, nullptr);
  if (!ok || moved != n) return false;
  if (write) file_writes_ = true;
  return true;
}

std::int32_t TEntireDataBase::TakeFreePage() {
  const std::int32_t count = PageCount();
  for (std::int32_t p = std::max(free_hint_, TableEnd()); p < count; ++p) {
    if (Entry(p) == kFreePage) {
      free_hint_ = p + 1;
      MakeWarm(p);
      std::memset(Page(p), 0, kPageSize);
      Touch(p);
      return p;
    }
  }
  free_hint_ = count;
  if (!AppendPage()) return -1;
  // A table growth may have left a free page below the new one.
  const std::int32_t fresh = PageCount() - 1;
  free_hint_ = std::min(free_hint_, fresh + 1);
  return fresh;
}

void TEntireDataBase::FreeChainAfter(std::vector<std::int32_t>& pages, std::size_t keep) {
  if (keep >= pages.size()) return;
  for (std::size_t i = keep; i < pages.size(); ++i) {
    std::int32_t q = pages[i];
    static const std::uint8_t kZeros[kPageSize] = {};
    if (Warm(q) ||
        !FileTransfer(q * kPageSize, const_cast<std::uint8_t*>(kZeros), kPageSize, true)) {
      MakeWarm(q);
      std::memset(Page(q), 0, kPageSize);
    }
    Touch(q);
    SetEntry(q, kFreePage);
    free_hint_ = std::min(free_hint_, q);
  }
  pages.resize(keep);
  if (keep > 0) SetEntry(pages.back(), kEndOfChain);
}

void TEntireDataBase::DeleteEntry(std::int32_t page, std::int32_t entry) {
  std::uint8_t* d = DirEntry(page, entry);
  std::vector<std::int32_t> pages = Chain(GetI32(d + kFirstPageOffset), -1);
  FreeChainAfter(pages, 0);
  std::memset(DirEntry(page, entry), 0, kDirEntrySize);
  Touch(page);
}

// ---- inner files ----

int TEntireDataBase::CreateInner(const std::string& name, win::DWORD attributes, win::DWORD flags) {
  std::string stored = StoredName(name);
  std::string key = InnerNameKey(name);
  if (key.empty()) {
    win::SetLastError(win::ERROR_INVALID_NAME);
    return -1;
  }
  win::DWORD deleted = DeleteInner(stored);
  if (deleted != 0 && deleted != win::ERROR_FILE_NOT_FOUND) {
    win::SetLastError(deleted);
    return -1;
  }
  std::int32_t page = -1;
  std::int32_t entry = 0;
  for (std::int32_t p : DirChain()) {
    for (std::int32_t e = 0; e < kDirEntriesPerPage && page < 0; ++e) {
      if (DirEntry(p, e)[0] == 0) {
        page = p;
        entry = e;
      }
    }
    if (page >= 0) break;
  }
  if (page < 0) {
    std::int32_t fresh = TakeFreePage();
    if (fresh < 0) return -1;
    std::vector<std::int32_t> dir = DirChain();  // read after a possible move
    if (dir.empty()) {
      SetFirstDirPage(fresh);
    } else {
      SetEntry(dir.back(), fresh);
    }
    SetEntry(fresh, kEndOfChain);
    page = fresh;
    entry = 0;
  }
  std::uint8_t* d = DirEntry(page, entry);
  std::memset(d, 0, kDirEntrySize);
  std::memcpy(d, stored.data(), stored.size());
  PutI32(d + kAttributesOffset, static_cast<std::int32_t>(attributes & kAttributeMask));
  PutI32(d + kFirstPageOffset, -1);
  PutI32(d + kSizeOffset, 0);
  Touch(page);
  return OpenInner(stored, flags);
}

int TEntireDataBase::OpenInner(const std::string& name, win::DWORD flags) {
  std::string key = InnerNameKey(name);
  std::int32_t page = 0;
  std::int32_t entry = 0;
  if (!FindEntry(key, &page, &entry)) return -1;
  for (std::size_t s = slots_.size() - 1; s >= 1; --s) {
    if (slots_[s].key == key) {
      ++slots_[s].references;
      return static_cast<int>(s);
    }
  }
  const std::uint8_t* d = DirEntry(page, entry);
  std::int64_t size = GetI32(d + kSizeOffset);
  std::int32_t first = GetI32(d + kFirstPageOffset);
  if (size < 0) throw EContainerError("Invalid base file");
  Slot slot;
  slot.pages = Chain(first, (size + kPageSize - 1) / kPageSize);
  slot.key = key;
  slot.dir_page = page;
  slot.dir_entry = entry;
  slot.references = 1;
  slot.delete_on_close = (flags & kInnerDeleteOnClose) != 0;
  std::size_t s = 1;
  while (s < slots_.size() && !slots_[s].key.empty()) ++s;
  if (s == slots_.size()) slots_.emplace_back();
  slots_[s] = std::move(slot);
  return static_cast<int>(s);
}

void TEntireDataBase::CloseInner(int slot) {
  if (slot < 1 || static_cast<std::size_t>(slot) >= slots_.size() || slots_[slot].key.empty()) {
    return;
  }
  Slot& s = slots_[slot];
  if (--s.references > 0) return;
  std::int32_t page = s.dir_page;
  std::int32_t entry = s.dir_entry;
  bool doomed = s.delete_on_close;
  s = Slot{};
  if (doomed) DeleteEntry(page, entry);
}

win::DWORD TEntireDataBase::DeleteInner(const std::string& name) {
  std::string key = InnerNameKey(name);
  std::int32_t page = 0;
  std::int32_t entry = 0;
  if (!FindEntry(key, &page, &entry)) return win::ERROR_FILE_NOT_FOUND;
  for (const Slot& s : slots_) {
    if (s.key == key) return win::ERROR_SHARING_VIOLATION;
  }
  DeleteEntry(page, entry);
  return 0;
}

win::DWORD TEntireDataBase::RenameInner(const std::string& name, const std::string& new_name) {
  const std::string key = InnerNameKey(name);
  const std::string new_key = InnerNameKey(new_name);
  const std::string stored = StoredName(new_name);
  if (new_key.empty()) return win::ERROR_INVALID_NAME;
  std::int32_t page = 0, entry = 0, other_page = 0, other_entry = 0;
  if (!FindEntry(key, &page, &entry)) return win::ERROR_FILE_NOT_FOUND;
  for (const Slot& s : slots_) {
    if (s.key == key) return win::ERROR_SHARING_VIOLATION;
  }
  if (new_key != key && FindEntry(new_key, &other_page, &other_entry)) {
    return win::ERROR_ALREADY_EXISTS;
  }
  std::uint8_t* d = DirEntry(page, entry);
  std::memset(d + kNameOffset, 0, kNameField);
  std::memcpy(d + kNameOffset, stored.data(), stored.size());
  Touch(page);
  return 0;
}

int TEntireDataBase::OpenSlotCount() const {
  int n = 0;
  for (const Slot& s : slots_) n += s.key.empty() ? 0 : 1;
  return n;
}

int TEntireDataBase::SlotReferences(int slot) const {
  if (slot < 1 || static_cast<std::size_t>(slot) >= slots_.size()) return 0;
  return slots_[slot].references;
}

std::int64_t TEntireDataBase::InnerSize(int slot) const {
  const Slot& s = slots_.at(static_cast<std::size_t>(slot));
  return GetI32(DirEntry(s.dir_page, s.dir_entry) + kSizeOffset);
}

std::int32_t TEntireDataBase::ExtendColdRun(const std::vector<std::int32_t>& pages,
                                            std::size_t index, std::int64_t left, std::int64_t* n) {
  std::int32_t last = pages[index];
  while (*n < left && index + 1 < pages.size() && pages[index + 1] == last + 1 && !Warm(last + 1)) {
    ++index;
    ++last;
    *n += std::min(left - *n, kPageSize);
  }
  return last;
}

std::int64_t TEntireDataBase::ReadAt(int slot, std::int64_t position, void* buffer,
                                     std::int64_t count) {
  std::int64_t size = InnerSize(slot);
  if (position < 0 || position >= size || count <= 0) return 0;
  count = std::min(count, size - position);
  const Slot& s = slots_[slot];
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    std::int64_t at = position + done;
    std::size_t index = static_cast<std::size_t>(at / kPageSize);
    if (index >= s.pages.size()) throw EContainerError("Invalid base file");
    std::int64_t offset = at % kPageSize;
    std::int64_t n = std::min(count - done, kPageSize - offset);
    const std::int32_t page = s.pages[index];
    if (!Warm(page)) {
      const std::int32_t last = ExtendColdRun(s.pages, index, count - done, &n);
      if (FileTransfer(page * kPageSize + offset, out + done, n, false)) {
        done += n;
        continue;
      }
      for (std::int32_t p = page; p <= last; ++p) MakeWarm(p);
    }
    std::memcpy(out + done, Page(page) + offset, static_cast<std::size_t>(n));
    done += n;
  }
  return count;
}

std::int64_t TEntireDataBase::WriteAt(int slot, std::int64_t position, const void* buffer,
                                      std::int64_t count) {
  if (count <= 0) return 0;
  if (position < 0 || position > kMaxInnerSize || count > kMaxInnerSize - position) {
    win::SetLastError(win::ERROR_DISK_FULL);
    return 0;
  }
  std::int64_t end = position + count;
  std::size_t need = static_cast<std::size_t>((end + kPageSize - 1) / kPageSize);
  std::size_t had = slots_[slot].pages.size();
  while (slots_[slot].pages.size() < need) {
    std::int32_t fresh = TakeFreePage();
    if (fresh < 0) {
      win::DWORD error = win::GetLastError();
      Slot& s = slots_[slot];
      FreeChainAfter(s.pages, had);
      if (had == 0) {
        PutI32(DirEntry(s.dir_page, s.dir_entry) + kFirstPageOffset, -1);
        Touch(s.dir_page);
      }
      win::SetLastError(error);
      return 0;
    }
    // Read the slot after the allocation: growth may have moved its pages.
    Slot& s = slots_[slot];
    if (s.pages.empty()) {
      PutI32(DirEntry(s.dir_page, s.dir_entry) + kFirstPageOffset, fresh);
      Touch(s.dir_page);
    } else {
      SetEntry(s.pages.back(), fresh);
    }
    SetEntry(fresh, kEndOfChain);
    s.pages.push_back(fresh);
  }
  Slot& s = slots_[slot];
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    std::int64_t at = position + done;
    std::size_t index = static_cast<std::size_t>(at / kPageSize);
    std::int32_t page = s.pages[index];
    std::int64_t offset = at % kPageSize;
    std::int64_t n = std::min(count - done, kPageSize - offset);
    if (!Warm(page)) {
      const std::int32_t last = ExtendColdRun(s.pages, index, count - done, &n);
      Touch(page);
      Touch(last);
      if (FileTransfer(page * kPageSize + offset, const_cast<std::uint8_t*>(in + done), n, true)) {
        done += n;
        continue;
      }
      for (std::int32_t p = page; p <= last; ++p) MakeWarm(p);
    }
    std::memcpy(Page(page) + offset, in + done, static_cast<std::size_t>(n));
    Touch(page);
    done += n;
  }
  std::uint8_t* d = DirEntry(s.dir_page, s.dir_entry);
  if (end > GetI32(d + kSizeOffset)) {
    PutI32(d + kSizeOffset, static_cast<std::int32_t>(end));
    Touch(s.dir_page);
  }
  return count;
}

bool TEntireDataBase::SetInnerSize(int slot, std::int64_t size) {
  std::int64_t current = InnerSize(slot);
  if (size < 0 || size > kMaxInnerSize) {
    win::SetLastError(size < 0 ? win::ERROR_NEGATIVE_SEEK : win::ERROR_DISK_FULL);
    return false;
  }
  if (size > current) {
    // Extending: the pages handed out are zero, and so is the tail of the
    // last page; allocate by writing the last byte as zero.
    std::uint8_t zero = 0;
    return WriteAt(slot, size - 1, &zero, 1) == 1;
  }
  Slot& s = slots_[slot];
  std::size_t keep = static_cast<std::size_t>((size + kPageSize - 1) / kPageSize);
  FreeChainAfter(s.pages, keep);
  std::uint8_t* d = DirEntry(s.dir_page, s.dir_entry);
  if (keep == 0) PutI32(d + kFirstPageOffset, -1);
  if (size % kPageSize != 0 && keep > 0) {
    std::int64_t offset = size % kPageSize;
    MakeWarm(s.pages.back());
    std::memset(Page(s.pages.back()) + offset, 0, static_cast<std::size_t>(kPageSize - offset));
    Touch(s.pages.back());
  }
  PutI32(d + kSizeOffset, static_cast<std::int32_t>(size));
  Touch(s.dir_page);
  return true;
}

// ---- flush ----

bool TEntireDataBase::Flush() {
  if (temporary_ || map_ == nullptr) {
    dirty_low_ = 0x7FFFFFFF;
    dirty_high_ = -1;
    grown_ = file_writes_ = false;
    return true;
  }
  bool ok = true;
  if (dirty_low_ <= dirty_high_) {
    std::int32_t high = std::min<std::int64_t>(dirty_high_, mapped_pages_ - 1);
    if (high >= dirty_low_ &&
        !win::FlushViewOfFile(Page(dirty_low_), (high - dirty_low_ + 1) * kPageSize)) {
      ok = false;
    }
  }
  if ((grown_ || file_writes_) && !win::FlushFileBuffers(file_.get())) ok = false;
  if (ok) {
    dirty_low_ = 0x7FFFFFFF;
    dirty_high_ = -1;
    grown_ = file_writes_ = false;
  }
  return ok;
}

}  // namespace vandrel::engine
