// Index pages: entry editing and the stored form of each compression.
#include "engine/page.h"

#include <algorithm>

#include "engine/record_codec.h"

namespace vandrel::engine {
namespace {

std::size_t SharedPrefix(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  std::size_t p = 0;
  while (p < n && a[p] == b[p]) ++p;
  return p;
}

std::size_t TrailingZeros(const std::uint8_t* k, std::size_t from, std::size_t end) {
  std::size_t t = 0;
  while (end - t > from && k[end - t - 1] == 0) ++t;
  return t;
}

// The cut of one leaf entry: p shared leading bytes, t trailing zeros cut at
// cut_end (the end of the key, or of the field part before the suffix).
struct Cut {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t cut_end = 0;
};

Cut CutOf(const TPageFormat& f, const std::uint8_t* key, const std::uint8_t* prev) {
  Cut c;
  const std::size_t kl = f.key_length;
  c.cut_end = kl;
  switch (f.compression) {
    case 1:
      c.p = prev != nullptr ? SharedPrefix(key, prev, kl) : 0;
      break;
    case 2:
      c.cut_end = f.unique ? kl : f.field_part;
      c.t = TrailingZeros(key, 0, c.cut_end);
      break;
    case 3: {
      c.p = prev != nullptr ? std::min<std::size_t>(SharedPrefix(key, prev, kl), 255) : 0;
      const std::size_t rem = kl - c.p;
      c.cut_end = f.unique || rem < 5 ? kl : f.field_part;
      c.t = std::min<std::size_t>(TrailingZeros(key, c.p, c.cut_end), 255);
      break;
    }
    default:
      break;
  }
  return c;
}

std::size_t HeadBytes(std::uint8_t compression) { return compression == 0 ? 0 : 2; }

}  // namespace

TPage::TPage(const TPageFormat& format, std::uint32_t offset)
    : format_(&format), offset_(offset), stride_(format.key_length + 8) {}

std::uint64_t TPage::Keys() const {
  if (leaf()) return count_;
  std::uint64_t n = 0;
  for (std::size_t i = 0; i < count_; ++i) n += Count(i);
  return n;
}

void TPage::Insert(std::size_t i, const std::uint8_t* key, std::uint32_t value,
                   std::uint32_t count) {
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(i * stride_), stride_, 0);
  std::memcpy(entries_.data() + i * stride_, key, format_->key_length);
  ++count_;
  Changed(i, count_);
  SetValue(i, value);
  SetCount(i, count);
}

void TPage::Erase(std::size_t i) {
  const auto at = entries_.begin() + static_cast<std::ptrdiff_t>(i * stride_);
  entries_.erase(at, at + static_cast<std::ptrdiff_t>(stride_));
  Changed(i, count_);
  --count_;
}

void TPage::MoveTail(std::size_t from, TPage& other) {
  const auto at = entries_.begin() + static_cast<std::ptrdiff_t>(from * stride_);
  other.entries_.insert(other.entries_.end(), at, entries_.end());
  other.Changed(other.count_, other.count_ + count_ - from);
  other.count_ += count_ - from;
  entries_.erase(at, entries_.end());
  Changed(from, count_);
  count_ = from;
}

void TPage::TakeHead(TPage& other, std::size_t n) {
  const auto end = other.entries_.begin() + static_cast<std::ptrdiff_t>(n * stride_);
  entries_.insert(entries_.end(), other.entries_.begin(), end);
  Changed(count_, count_ + n);
  count_ += n;
  other.entries_.erase(other.entries_.begin(), end);
  other.Changed(0, other.count_);
  other.count_ -= n;
}

std::size_t TPage::LeafEntrySize(std::size_t i) const {
  const TPageFormat& f = *format_;
  const Cut c = CutOf(f, Key(i), i == 0 ? nullptr : Key(i - 1));
  return HeadBytes(f.compression) + f.key_length - c.p - c.t + 4;
}

std::size_t TPage::EncodedSize() const {
  const TPageFormat& f = *format_;
  if (!leaf()) return count_ * (f.key_length + 8);
  if (f.compression == 0) return count_ * (f.key_length + 4);
  std::size_t n = 0;
  for (std::size_t i = 0; i < count_; ++i) n += LeafEntrySize(i);
  return n;
}

std::size_t TPage::MaxEntries() const {
  return leaf() ? format_->MaxLeafEntries() : format_->MaxInteriorEntries();
}

bool TPage::Overflows() const {
  if (leaf() && format_->compression != 0) {
    return count_ > 0xFFFF || EncodedSize() > kPageArea;
  }
  return count_ > MaxEntries();
}

void TPage::Encode(std::uint8_t* out) const {
  std::memset(out, 0, kPageSize);
  const TPageFormat& f = *format_;
  const std::size_t kl = f.key_length;
  std::uint8_t* w = out + kPageHeaderSize;
  for (std::size_t i = 0; i < count_; ++i) {
    const std::uint8_t* key = Key(i);
    if (!leaf()) {
      std::memcpy(w, key, kl);
      StoreU32(w + kl, Value(i));
      StoreU32(w + kl + 4, Count(i));
      w += kl + 8;
      continue;
    }
    const Cut c = CutOf(f, key, i == 0 ? nullptr : Key(i - 1));
    switch (f.compression) {
      case 1:
      case 2:
        StoreU16(w, static_cast<std::uint32_t>(f.compression == 1 ? c.p : c.t));
        w += 2;
        break;
      case 3:
        w[0] = static_cast<std::uint8_t>(c.p);
        w[1] = static_cast<std::uint8_t>(c.t);
        w += 2;
        break;
      default:
        break;
    }
    // Bytes p .. cut_end - t, then cut_end .. key length (the suffix).
    const std::size_t head = c.cut_end - c.t - c.p;
    std::memcpy(w, key + c.p, head);
    w += head;
    std::memcpy(w, key + c.cut_end, kl - c.cut_end);
    w += kl - c.cut_end;
    StoreU32(w, Value(i));
    w += 4;
  }
  out[0] = type;
  StoreU16(out + 1, static_cast<std::uint32_t>(count_));
  StoreU32(out + 3, prev);
  StoreU32(out + 7, next);
  StoreU16(out + 11, static_cast<std::uint32_t>(w - out - kPageHeaderSize));
}

void TPage::MarkStored() {
  whole_ = false;
  changed_lo_ = kNone;
  changed_hi_ = 0;
  stored_leaf_ = leaf();
  stored_used_ = EncodedSize();
}

bool TPage::EncodeChanged(std::uint8_t* out, std::size_t* begin, std::size_t* end) const {
  const TPageFormat& f = *format_;
  // A page that changed its kind (a freed page taken again) is stored whole.
  if (whole_ || (leaf() && f.compression != 0) || leaf() != stored_leaf_) return false;
  const std::size_t kl = f.key_length;
  const std::size_t size = leaf() ? kl + 4 : kl + 8;
  std::size_t lo = changed_lo_ == kNone ? 0 : changed_lo_;
  if (lo * size <= 64) lo = 0;  // header and entries in one piece
  // Slots past the entries that the stored form still fills are cleared.
  const std::size_t stored_slots = (stored_used_ + size - 1) / size;
  std::size_t hi = std::max(lo, changed_hi_);
  if (stored_slots > count_) hi = std::max(hi, stored_slots);
  // Much changed (as cheap whole), or slots of a page that changed its kind
  // reaching past its end: the whole page.
  if ((hi - lo) * size > kPageArea / 2 || kPageHeaderSize + hi * size > kPageSize) return false;
  out[0] = type;
  StoreU16(out + 1, static_cast<std::uint32_t>(count_));
  StoreU32(out + 3, prev);
  StoreU32(out + 7, next);
  StoreU16(out + 11, static_cast<std::uint32_t>(count_ * size));
  for (std::size_t i = lo; i < hi; ++i) {
    std::uint8_t* w = out + kPageHeaderSize + i * size;
    if (i >= count_) {
      std::memset(w, 0, size);  // a slot no entry holds any more
      continue;
    }
    std::memcpy(w, Key(i), kl);
    StoreU32(w + kl, Value(i));
    if (!leaf()) StoreU32(w + kl + 4, Count(i));
  }
  *begin = kPageHeaderSize + lo * size;
  *end = kPageHeaderSize + hi * size;
  return true;
}

bool TPage::Decode(const std::uint8_t* in) {
  const TPageFormat& f = *format_;
  const std::size_t kl = f.key_length;
  if (in[0] > kPageRootLeaf) return false;
  type = in[0];
  const std::size_t n = LoadU16(in + 1);
  prev = LoadU32(in + 3);
  next = LoadU32(in + 7);
  const std::size_t used = LoadU16(in + 11);
  if (used > kPageArea) return false;
  if (n > (leaf() ? (f.compression == 0 ? f.MaxLeafEntries() : kPageArea / 6)
                  : f.MaxInteriorEntries())) {
    return false;
  }
  count_ = 0;
  entries_.assign(n * stride_, 0);
  const std::uint8_t* r = in + kPageHeaderSize;
  const std::uint8_t* end = r + used;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t* key = entries_.data() + i * stride_;
    if (!leaf()) {
      if (end - r < static_cast<std::ptrdiff_t>(kl + 8)) return false;
      std::memcpy(key, r, kl);
      ++count_;
      SetValue(i, LoadU32(r + kl));
      SetCount(i, LoadU32(r + kl + 4));
      r += kl + 8;
      continue;
    }
    std::size_t p = 0, t = 0, cut_end = kl;
    if (f.compression != 0) {
      if (end - r < 2) return false;
      if (f.compression == 3) {
        p = r[0];
        t = r[1];
      } else if (f.compression == 1) {
        p = LoadU16(r);
      } else {
        t = LoadU16(r);
      }
      r += 2;
      if (i == 0 && p != 0) return false;
      if (p > kl) return false;
      if (f.compression >= 2) {
        cut_end = f.unique || (f.compression == 3 && kl - p < 5) ? kl : f.field_part;
        if (t + p > cut_end) return false;
      }
    }
    const std::size_t head = cut_end - t - p;
    const std::size_t tail = kl - cut_end;
    if (end - r < static_cast<std::ptrdiff_t>(head + tail + 4)) return false;
    if (p != 0) std::memcpy(key, key - stride_, p);
    std::memcpy(key + p, r, head);
    r += head;
    std::memcpy(key + cut_end, r, tail);
    r += tail;
    ++count_;
    SetValue(i, LoadU32(r));
    SetCount(i, 0);
    r += 4;
  }
  if (r != end) return false;
  // The stored form is what Encode gives, unless bytes follow the entries:
  // then the next store writes the whole page.
  MarkStored();
  const std::uint8_t* tail = in + kPageHeaderSize + used;
  const std::uint8_t* stop = in + kPageSize;
  whole_ = std::find_if(tail, stop, [](std::uint8_t b) { return b != 0; }) != stop;
  return true;
}

}  // namespace vandrel::engine
