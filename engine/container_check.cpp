// Verifies a container's bytes against every invariant of its format.
#include "engine/container_check.h"

#include <fstream>
#include <iterator>
#include <set>

#include "engine/container_format.h"

namespace vandrel::engine {
namespace {

using namespace container;

class Checker {
 public:
  Checker(const std::uint8_t* bytes, std::uint64_t size) : b_(bytes), size_(size) {}

  TContainerReport Run() {
    if (!Header()) return std::move(r_);
    Table();
    Directory();
    Leaks();
    Spare();
    return std::move(r_);
  }

 private:
  void Error(const char* kind, const std::string& text) {
    r_.findings.push_back({true, kind, text});
  }
  void Note(const char* kind, const std::string& text) {
    r_.findings.push_back({false, kind, text});
  }

  const std::uint8_t* Page(std::int64_t n) const { return b_ + n * kPageSize; }
  std::int32_t Entry(std::int64_t n) const { return GetI32(Page(1) + n * 4); }
  bool InData(std::int64_t n) const { return n >= table_end_ && n < page_count_; }

  bool Header() {
    if (size_ < static_cast<std::uint64_t>(kPageSize)) {
      Error("size", "file of " + std::to_string(size_) + " bytes is shorter than one page");
      return false;
    }
    if (size_ % kPageSize != 0) {
      Note("size", "file size " + std::to_string(size_) + " is not a multiple of 4096");
    }
    if (GetI32(b_ + kSignatureOffset) != static_cast<std::int32_t>(kSignature)) {
      Error("header", "signature is not VBAS");
      return false;
    }
    if (GetI32(b_ + kVersionOffset) != kVersion) {
      Error("header", "version " + std::to_string(GetI32(b_ + kVersionOffset)) + " is not 1");
      return false;
    }
    page_count_ = GetI32(b_ + kPageCountOffset);
    table_end_ = GetI32(b_ + kTableEndOffset);
    dir_head_ = GetI32(b_ + kFirstDirPageOffset);
    for (std::size_t i = kHeaderUsed; i < static_cast<std::size_t>(kPageSize); ++i) {
      if (b_[i] != 0) {
        Error("header", "header byte " + std::to_string(i) + " is not zero");
        break;
      }
    }
    bool ok = true;
    if (page_count_ < 2) {
      Error("header", "page count " + std::to_string(page_count_) + " is below 2");
      ok = false;
    } else if (static_cast<std::uint64_t>(page_count_) * kPageSize > size_) {
      Error("size", "file of " + std::to_string(size_) + " bytes is shorter than its " +
                        std::to_string(page_count_) + " pages");
      ok = false;
    } else if (static_cast<std::uint64_t>(page_count_) * kPageSize < size_) {
      Note("size", std::to_string((size_ - page_count_ * kPageSize) / kPageSize) +
                       " spare pages beyond the page count");
    }
    if (ok && (table_end_ < 2 || table_end_ > page_count_ ||
               table_end_ - 1 != TablePagesFor(page_count_))) {
      Error("header", "table end " + std::to_string(table_end_) + " does not fit page count " +
                          std::to_string(page_count_));
      ok = false;
    }
    if (ok && dir_head_ != -1 && !InData(dir_head_)) {
      Error("header", "first directory page " + std::to_string(dir_head_) + " is out of range");
      ok = false;
    }
    return ok;
  }

  void Table() {
    std::int64_t capacity = static_cast<std::int64_t>(table_end_ - 1) * kEntriesPerTablePage;
    int reported = 0;
    auto report = [&](const std::string& text) {
      if (++reported <= 20) Error("table", text);
    };
    for (std::int64_t n = 0; n < table_end_; ++n) {
      if (Entry(n) != kEndOfChain) report("entry of page " + std::to_string(n) + " is not -1");
    }
    for (std::int64_t n = page_count_; n < capacity; ++n) {
      if (Entry(n) != 0)
        report("entry of page " + std::to_string(n) + " beyond the page count is not 0");
    }
    in_degree_.assign(page_count_, 0);
    for (std::int64_t n = table_end_; n < page_count_; ++n) {
      std::int32_t e = Entry(n);
      if (e == 0 || e == kEndOfChain) continue;
      if (!InData(e)) {
        report("entry of page " + std::to_string(n) + " points to page " + std::to_string(e));
        bad_entries_ = true;
      } else if (++in_degree_[e] > 1) {
        report("page " + std::to_string(e) + " follows more than one page");
      }
    }
    owner_.assign(page_count_, 0);
    for (std::int64_t n = table_end_; n < page_count_; ++n) {
      if (Entry(n) != 0) continue;
      const std::uint8_t* p = Page(n);
      for (std::int64_t i = 0; i < kPageSize; ++i) {
        if (p[i] != 0) {
          Error("free", "free page " + std::to_string(n) + " is not zero");
          break;
        }
      }
    }
  }

  // Walks a chain from first, marking its pages with owner. Returns the
  // pages, or stops at the first fault.
  std::vector<std::int32_t> Walk(std::int32_t first, int owner, const std::string& what) {
    std::vector<std::int32_t> pages;
    if (first == -1) return pages;
    if (!InData(first)) {
      Error("chain", what + ": first page " + std::to_string(first) + " is out of range");
      return pages;
    }
    if (in_degree_[first] != 0) {
      Error("chain", what + ": first page " + std::to_string(first) + " follows another page");
    }
    std::int32_t p = first;
    while (true) {
      if (owner_[p] != 0) {
        Error("chain", what + ": page " + std::to_string(p) +
                           (owner_[p] == owner ? " closes a loop" : " belongs to another chain"));
        return pages;
      }
      if (Entry(p) == 0) {
        Error("chain", what + ": page " + std::to_string(p) + " is marked free");
        return pages;
      }
      owner_[p] = owner;
      pages.push_back(p);
      std::int32_t next = Entry(p);
      if (next == kEndOfChain) return pages;
      if (!InData(next)) return pages;  // reported with the table
      p = next;
    }
  }

  void Directory() {
    if (bad_entries_) return;
    int owner = 1;
    std::vector<std::int32_t> dir = Walk(dir_head_, owner++, "directory");
    std::set<std::string> names;
    for (std::int32_t page : dir) {
      for (int e = 0; e < kDirEntriesPerPage; ++e) {
        const std::uint8_t* d = Page(page) + e * kDirEntrySize;
        std::string where =
            "entry " + std::to_string(e) + " of directory page " + std::to_string(page);
        if (d[0] == 0) {
          for (int i = 0; i < kDirEntrySize; ++i) {
            if (d[i] != 0) {
              Error("directory", "free " + where + " is not zero");
              break;
            }
          }
          continue;
        }
        std::size_t len = 0;
        while (len < kNameField && d[len] != 0) ++len;
        if (len > static_cast<std::size_t>(kMaxNameLength)) {
          Error("directory", where + ": name is not zero-terminated");
          continue;
        }
        std::string name(reinterpret_cast<const char*>(d), len);
        for (std::size_t i = len; i < kNameField; ++i) {
          if (d[i] != 0) {
            Error("directory", where + ": bytes after the name are not zero");
            break;
          }
        }
        if (!names.insert(InnerNameKey(name)).second) {
          Error("directory", where + ": name \"" + name + "\" is not unique");
        }
        std::uint32_t attributes = static_cast<std::uint32_t>(GetI32(d + kAttributesOffset));
        if ((attributes & ~kAttributeMask) != 0) {
          Error("directory",
                where + ": attributes " + std::to_string(attributes) + " beyond 0x1B7");
        }
        for (std::size_t i = kReservedOffset; i < static_cast<std::size_t>(kDirEntrySize); ++i) {
          if (d[i] != 0) {
            Error("directory", where + ": reserved bytes are not zero");
            break;
          }
        }
        std::int32_t first = GetI32(d + kFirstPageOffset);
        std::int32_t size = GetI32(d + kSizeOffset);
        TInnerFileInfo info{name, attributes, first, size, 0};
        if (size < 0) {
          Error("directory",
                "file \"" + name + "\": size " + std::to_string(size) + " is negative");
          r_.files.push_back(info);
          continue;
        }
        if ((size == 0) != (first == -1)) {
          Error("directory", "file \"" + name + "\": size " + std::to_string(size) +
                                 " with first page " + std::to_string(first));
        }
        std::vector<std::int32_t> pages = Walk(first, owner++, "file \"" + name + "\"");
        info.pages = static_cast<std::int64_t>(pages.size());
        std::int64_t want = (static_cast<std::int64_t>(size) + kPageSize - 1) / kPageSize;
        if (info.pages != want && (first == -1 || InData(first))) {
          Error("chain", "file \"" + name + "\": " + std::to_string(info.pages) +
                             " pages for size " + std::to_string(size) + ", needs " +
                             std::to_string(want));
        } else if (size % kPageSize != 0 && !pages.empty()) {
          const std::uint8_t* last = Page(pages.back());
          for (std::int64_t i = size % kPageSize; i < kPageSize; ++i) {
            if (last[i] != 0) {
              Error("data", "file \"" + name + "\": bytes past its size are not zero");
              break;
            }
          }
        }
        r_.files.push_back(info);
      }
    }
  }

  void Leaks() {
    if (bad_entries_) return;
    std::int64_t leaked = 0;
    std::int32_t first = -1;
    for (std::int64_t n = table_end_; n < page_count_; ++n) {
      if (Entry(n) != 0 && owner_[n] == 0) {
        if (leaked++ == 0) first = static_cast<std::int32_t>(n);
      }
    }
    if (leaked > 0) {
      Error("leak", std::to_string(leaked) + " pages in use belong to no file (first: page " +
                        std::to_string(first) + ")");
    }
  }

  void Spare() {
    std::uint64_t end = size_ - size_ % kPageSize;
    for (std::uint64_t at = static_cast<std::uint64_t>(page_count_) * kPageSize; at < end; ++at) {
      if (b_[at] != 0) {
        Note("spare", "spare page " + std::to_string(at / kPageSize) + " is not zero");
        return;
      }
    }
  }

  const std::uint8_t* b_;
  std::uint64_t size_;
  std::int32_t page_count_ = 0;
  std::int32_t table_end_ = 0;
  std::int32_t dir_head_ = -1;
  bool bad_entries_ = false;
  std::vector<std::uint8_t> in_degree_;
  std::vector<int> owner_;
  TContainerReport r_;
};

}  // namespace

bool TContainerReport::Clean() const {
  for (const auto& f : findings) {
    if (f.error) return false;
  }
  return true;
}

bool TContainerReport::Fatal() const {
  for (const auto& f : findings) {
    if (f.error && f.kind != "leak" && f.kind != "free" && f.kind != "data") return true;
  }
  return false;
}

std::vector<std::string> TContainerReport::Lines() const {
  std::vector<std::string> out;
  for (const auto& f : findings)
    out.push_back("[" + f.kind + "] " + (f.error ? "" : "note: ") + f.text);
  return out;
}

TContainerReport CheckContainerBytes(const std::uint8_t* bytes, std::uint64_t size) {
  return Checker(bytes, size).Run();
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return !in.bad();
}

TContainerReport CheckContainerFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes)) {
    TContainerReport r;
    r.findings.push_back({true, "size", "cannot read " + path});
    return r;
  }
  return CheckContainerBytes(bytes.data(), bytes.size());
}

bool ReadInnerFromBytes(const std::uint8_t* bytes, std::uint64_t size, const std::string& name,
                        std::vector<std::uint8_t>* out) {
  out->clear();
  TContainerReport report = CheckContainerBytes(bytes, size);
  if (report.Fatal()) return false;
  std::string key = InnerNameKey(name);
  std::int32_t page_count = GetI32(bytes + kPageCountOffset);
  std::int32_t table_end = GetI32(bytes + kTableEndOffset);
  for (const TInnerFileInfo& f : report.files) {
    if (InnerNameKey(f.name) != key) continue;
    std::int64_t left = f.size;
    std::int32_t p = f.first_page;
    std::int64_t steps = 0;
    while (left > 0) {
      if (p < table_end || p >= page_count || ++steps > page_count) return false;
      std::int64_t n = std::min<std::int64_t>(left, kPageSize);
      const std::uint8_t* page = bytes + p * kPageSize;
      out->insert(out->end(), page, page + n);
      left -= n;
      p = GetI32(bytes + kPageSize + p * 4LL);
    }
    return true;
  }
  return false;
}

TContainerReport CheckContainer(const TEntireDataBase& db) {
  return CheckContainerBytes(db.Bytes(), static_cast<std::uint64_t>(db.PageCount()) * 4096);
}

}  // namespace vandrel::engine
