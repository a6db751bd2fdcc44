// Encoding the translations of prepared entries (TranslationOf, then
// EncodeBody, then, for a compressed file, compressing them) on worker threads, a chunk of entries
// at a time and a few chunks ahead of the compiler, which takes the bodies in entry order and
// commits them on its own thread (TVocabCompiler::AddEncodedWord).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dictionary/vocab_compiler.h"
#include "tools/common/prepare.h"

namespace vandrel::tools {

class EncodeAhead {
 public:
  static constexpr std::size_t kChunk = 1024;

  // entries must stay where they are, translations unchanged, until the
  // object is destroyed; an entry's word and translation may be moved out
  // once its body was taken. threads: at least 1. ahead: chunks encoded
  // and not yet taken, at most (at least two a thread).
  // finisher: the compiler's (TVocabCompiler::Finisher), when the
  // workers are to compress the bodies too.
  EncodeAhead(const std::vector<PreparedEntry>& entries, std::uint16_t language,
              std::uint16_t trans_language, std::size_t threads, std::size_t ahead = 0,
              std::optional<TVocabCompiler::BodyFinisher> finisher = std::nullopt);
  // Stops the workers and waits for them.
  ~EncodeAhead();
  EncodeAhead(const EncodeAhead&) = delete;
  EncodeAhead& operator=(const EncodeAhead&) = delete;

  // The body of entry i and its escape count; i goes 0, 1, 2, ... with
  // no gaps. False when encoding raised an error: the caller encodes the
  // entry itself to meet the error where it belongs.
  // With a finisher, compressed says whether it compressed the body (the
  // body is final then: TVocabCompiler::AddFinishedWord).
  bool Take(std::size_t i, std::string& body, std::size_t& escapes, bool* compressed = nullptr);

 private:
  struct Slot {
    std::vector<std::string> bodies;
    std::vector<std::size_t> escapes;
    std::vector<std::uint8_t> ok;
    std::vector<std::uint8_t> compressed;
    bool ready = false;
  };
  void Work(std::size_t first_chunk);
  // Frees the slot of the chunk being read (lock held).
  void ReleaseCurrent();

  const std::vector<PreparedEntry>& entries_;
  const std::uint16_t language_;
  const std::uint16_t trans_language_;
  const std::size_t threads_;
  const std::optional<TVocabCompiler::BodyFinisher> finisher_;
  const std::size_t chunks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Chunk k is encoded into slots_[k % slots_.size()] once the chunk that
  // used the slot before (k - slots_.size()) was released.
  std::vector<Slot> slots_;
  std::size_t released_ = 0;        // chunks read and freed
  std::size_t current_ = SIZE_MAX;  // the chunk being read
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace vandrel::tools
