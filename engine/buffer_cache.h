// TBufferCache: the buffers of one table file held in memory (the records
// of a data file, the blocks of a BLOB file), found by key (record number or
// file offset).
//
// Clean buffers sit in least-recently-used order; a changed (dirty) buffer
// leaves that order for a list of its own, so that a write-back visits only
// the changed buffers and an eviction takes the oldest clean one at once.
// The owner writes the buffers DirtyInOrder() hands out and gives each back
// with Cleaned(), which makes it the newest clean buffer. TakeVictim()
// removes the least recently used clean buffer that nobody pins; the owner
// decides what to do when there is none: write its changed buffers first,
// or, while writes are held (a transaction: nothing may reach the file
// before the commit), let the cache grow past its capacity.
//
// The cache owns its buffers; pointers stay valid until the buffer is
// taken, erased or the cache cleared. Engine thread only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace vandrel::engine {

// What every cached buffer carries for its cache.
struct TCachedBuffer {
  std::uint32_t key = 0;
  std::uint16_t pins = 0;
  bool dirty = false;
  TCachedBuffer* newer = nullptr;  // clean buffers only
  TCachedBuffer* older = nullptr;
};

template <class T>
class TBufferCache {
 public:
  TBufferCache() = default;
  TBufferCache(const TBufferCache&) = delete;
  TBufferCache& operator=(const TBufferCache&) = delete;

  std::size_t size() const { return map_.size(); }
  std::size_t dirty_count() const { return dirty_.size(); }
  bool full(std::size_t capacity) const { return map_.size() >= capacity; }

  // The buffer of key, or null; a clean one becomes the newest.
  T* Find(std::uint32_t key) {
    const auto it = map_.find(key);
    if (it == map_.end()) return nullptr;
    T* e = it->second.get();
    if (!e->dirty) Touch(e);
    return e;
  }
  bool Contains(std::uint32_t key) const { return map_.contains(key); }

  // Adds a buffer under its key (which must be free): the newest clean one,
  // or a changed one when it is marked dirty already.
  T* Add(std::unique_ptr<T> e) {
    T* raw = e.get();
    e->newer = e->older = nullptr;
    map_.emplace(raw->key, std::move(e));
    if (raw->dirty) {
      dirty_.push_back(raw);
    } else {
      Link(raw);
    }
    return raw;
  }

  void MarkDirty(T* e) {
    if (e->dirty) return;
    Unlink(e);
    e->dirty = true;
    dirty_.push_back(e);
  }

  // The changed buffers in key order, for a write-back in runs.
  std::vector<T*> DirtyInOrder() const {
    std::vector<T*> out = dirty_;
    std::sort(out.begin(), out.end(), [](const T* a, const T* b) { return a->key < b->key; });
    return out;
  }
  // Takes back buffers the owner has written (any order, each once).
  void Cleaned(const std::vector<T*>& written) {
    for (T* e : written) {
      if (!e->dirty) continue;
      e->dirty = false;
      Link(e);
    }
    dirty_.erase(std::remove_if(dirty_.begin(), dirty_.end(), [](const T* e) { return !e->dirty; }),
                 dirty_.end());
  }

  // Removes and returns the least recently used clean buffer nobody pins,
  // or null when there is none.
  std::unique_ptr<T> TakeVictim() {
    for (TCachedBuffer* e = oldest_; e != nullptr; e = e->newer) {
      if (e->pins != 0) continue;
      Unlink(e);
      auto node = map_.extract(e->key);
      return std::move(node.mapped());
    }
    return nullptr;
  }

  template <class F>
  void ForEach(F f) const {
    for (const auto& [k, e] : map_) f(*e);
  }

  // Drops every buffer, changed ones too (the caller has written them or
  // wants them gone).
  void Clear() {
    map_.clear();
    dirty_.clear();
    newest_ = oldest_ = nullptr;
  }

 private:
  void Link(TCachedBuffer* e) {
    e->older = newest_;
    e->newer = nullptr;
    if (newest_ != nullptr) newest_->newer = e;
    newest_ = e;
    if (oldest_ == nullptr) oldest_ = e;
  }
  void Unlink(TCachedBuffer* e) {
    (e->newer != nullptr ? e->newer->older : newest_) = e->older;
    (e->older != nullptr ? e->older->newer : oldest_) = e->newer;
    e->newer = e->older = nullptr;
  }
  void Touch(TCachedBuffer* e) {
    if (newest_ == e) return;
    Unlink(e);
    Link(e);
  }

  std::unordered_map<std::uint32_t, std::unique_ptr<T>> map_;
  std::vector<T*> dirty_;
  TCachedBuffer* newest_ = nullptr;  // clean buffers, most recently used first
  TCachedBuffer* oldest_ = nullptr;
};

}  // namespace vandrel::engine
