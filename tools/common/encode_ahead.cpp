// Translations encoded on worker threads ahead of the compiler.
#include "tools/common/encode_ahead.h"

#include <algorithm>

#include "dictionary/body_codec.h"

namespace vandrel::tools {

EncodeAhead::EncodeAhead(const std::vector<PreparedEntry>& entries, std::uint16_t language,
                         std::uint16_t trans_language, std::size_t threads, std::size_t ahead,
                         std::optional<TVocabCompiler::BodyFinisher> finisher)
    : entries_(entries),
      language_(language),
      trans_language_(trans_language),
      threads_(std::max<std::size_t>(1, threads)),
      finisher_(std::move(finisher)),
      chunks_((entries.size() + kChunk - 1) / kChunk),
      slots_(std::max(ahead, 2 * std::max<std::size_t>(1, threads))) {
  for (std::size_t w = 0; w < std::min(threads_, chunks_); ++w)
    workers_.emplace_back([this, w] { Work(w); });
}

EncodeAhead::~EncodeAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void EncodeAhead::Work(std::size_t first_chunk) {
  WideString buffer;
  TBodyCompressor compressor;
  for (std::size_t k = first_chunk; k < chunks_; k += threads_) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || k < released_ + slots_.size(); });
      if (stop_) return;
    }
    // The slot is this worker's until it is marked ready.
    Slot& slot = slots_[k % slots_.size()];
    const std::size_t begin = k * kChunk;
    const std::size_t n = std::min(kChunk, entries_.size() - begin);
    slot.bodies.resize(n);
    slot.escapes.assign(n, 0);
    slot.ok.assign(n, 0);
    slot.compressed.assign(n, 0);
    for (std::size_t j = 0; j < n; ++j) {
      try {
        BodyReport report;
        slot.bodies[j] = EncodeBody(language_, trans_language_,
                                    TranslationOf(entries_[begin + j], buffer), &report);
        slot.escapes[j] = report.escapes;
        if (finisher_) slot.compressed[j] = finisher_->Finish(slot.bodies[j], compressor);
        slot.ok[j] = 1;
      } catch (...) {
        slot.bodies[j].clear();  // met again by the caller, in order
      }
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      slot.ready = true;
    }
    changed_.notify_all();
  }
}

void EncodeAhead::ReleaseCurrent() {
  slots_[current_ % slots_.size()].ready = false;
  released_ = current_ + 1;
}

bool EncodeAhead::Take(std::size_t i, std::string& body, std::size_t& escapes, bool* compressed) {
  const std::size_t k = i / kChunk;
  if (k != current_) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (current_ != SIZE_MAX) ReleaseCurrent();
    current_ = k;
    lock.unlock();
    changed_.notify_all();
    lock.lock();
    changed_.wait(lock, [&] { return slots_[k % slots_.size()].ready; });
  }
  Slot& slot = slots_[k % slots_.size()];
  const std::size_t j = i - k * kChunk;
  if (!slot.ok[j]) return false;
  body = std::move(slot.bodies[j]);
  escapes = slot.escapes[j];
  if (compressed) *compressed = slot.compressed[j];
  return true;
}

}  // namespace vandrel::tools
