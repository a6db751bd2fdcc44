// TIoFaults: injected I/O failures of the engine's file layer, so that tests
// can fail each write, growth, truncation or flush of an operation in turn
// and see what the files hold afterwards.
//
// Always compiled in and inert until armed. Every file transfer asks
// TIoFaults::Hit with its kind; an armed plan counts the matching calls and
// makes the chosen one fail (once, or that one and every later matching
// one). A failed write writes nothing, or only its first half when the
// plan asks for torn writes; the caller sees the platform error
// ERROR_WRITE_FAULT (a flush: false), which the file handler reports as
// 9218.
//
//   TIoFaults::Count(kIoAll);            // counting only: Seen() after the op
//   TIoFaults::Arm(3, kIoWrite | kIoGrow);  // the 3rd write or growth fails
//   ...                                  // the operation under test
//   TIoFaults::Fired();  TIoFaults::Disarm();
//
// A process can also arm a plan from the environment at its start
// (ArmFromEnvironment): VANDREL_IO_FAULT="N[,KINDS[,torn][,sticky]]" with
// KINDS letters w (write), g (growth), t (truncation), f (flush).
//
// Engine thread only (like the rest of the engine).
#pragma once

#include <cstdint>

namespace vandrel::engine {

enum TIoKind : unsigned {
  kIoWrite = 1,     // a write within the file's current size
  kIoGrow = 2,      // a write past the end, or a size set larger
  kIoTruncate = 4,  // a size set smaller or equal
  kIoFlush = 8,     // a flush to the disk
  kIoAll = 15,
};

class TIoFaults {
 public:
  // The nth matching call from now (1 = the next) fails; sticky: every
  // matching call after it too; torn: a failing write writes its first
  // half.
  static void Arm(std::uint64_t nth, unsigned kinds = kIoAll, bool torn = false,
                  bool sticky = false);
  // Counts matching calls without failing any.
  static void Count(unsigned kinds = kIoAll) { Arm(0, kinds); }
  static void Disarm();
  // Matching calls since Arm/Count.
  static std::uint64_t Seen();
  static bool Fired();
  // Reads VANDREL_IO_FAULT; false when it is unset or malformed.
  static bool ArmFromEnvironment();

  // The file layer's question: must this call fail? *torn tells a failing
  // write to write half.
  static bool Hit(TIoKind kind, bool* torn = nullptr);
};

}  // namespace vandrel::engine
