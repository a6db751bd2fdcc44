// The ANSI code pages as objects: the built-in single-byte pages, and the
// double-byte pages whose tables are read once from the C library's iconv.
#include <iconv.h>

#include <array>
#include <cerrno>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/codepage_tables.h"
#include "platform/nls_internal.h"

namespace vandrel::win::nls {
namespace {

// The character an undefined byte stands for: the control character of the
// same code for 80-9F hex, a private-use character above. Neither kind is a
// character of any built-in page, so the stand-ins convert back to their
// bytes and every page stays a one-to-one map of all 256 bytes.
char16_t StandInFor(unsigned char byte) {
  return byte < 0xA0 ? static_cast<char16_t>(byte) : static_cast<char16_t>(0xF700 + byte);
}

class SingleByteCodePage final : public CodePage {
 public:
  explicit SingleByteCodePage(const SingleByteTable& table) : number_(table.code_page) {
    for (int b = 0; b < 256; ++b) {
      const char16_t ch = table.to_wide[b];
      defined_[b] = ch != kUndefinedByte;
      to_wide_[b] = defined_[b] ? ch : StandInFor(static_cast<unsigned char>(b));
    }
    for (int b = 0; b < 256; ++b) {
      const char16_t ch = to_wide_[b];
      auto& block = from_wide_[ch >> 8];
      if (!block) {
        block = std::make_unique<std::array<std::uint16_t, 256>>();
        block->fill(0);
      }
      // A stand-in never collides with a defined character (checked when the
      // tables are generated); keep the first byte should it ever happen.
      std::uint16_t& slot = (*block)[ch & 0xFF];
      if (slot == 0) slot = static_cast<std::uint16_t>(b + 1);
    }
  }

  UINT Number() const override { return number_; }
  bool IsDoubleByte() const override { return false; }

  std::size_t Decode(const unsigned char* src, std::size_t, char16_t& ch,
                     bool& valid) const override {
    ch = to_wide_[src[0]];
    valid = defined_[src[0]];
    return 1;
  }

  std::size_t Encode(char16_t ch, unsigned char out[2]) const override {
    const auto& block = from_wide_[ch >> 8];
    if (!block) return 0;
    const std::uint16_t slot = (*block)[ch & 0xFF];
    if (slot == 0) return 0;
    out[0] = static_cast<unsigned char>(slot - 1);
    return 1;
  }

 private:
  UINT number_;
  std::array<char16_t, 256> to_wide_{};
  std::array<bool, 256> defined_{};
  // Byte + 1 of each character, by block (high byte); 0: no byte.
  std::array<std::unique_ptr<std::array<std::uint16_t, 256>>, 256> from_wide_;
};

// One iconv conversion descriptor, closed with its owner.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  enum class Outcome { kExact, kIncomplete, kInvalid };

  // Converts the whole input from the initial state. kExact only when every
  // byte was consumed and the conversion was reversible.
  Outcome Convert(const unsigned char* in, std::size_t in_len, unsigned char* out,
                  std::size_t out_cap, std::size_t& out_len) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* ip = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
    std::size_t il = in_len;
    char* op = reinterpret_cast<char*>(out);
    std::size_t ol = out_cap;
    const std::size_t r = iconv(cd_, &ip, &il, &op, &ol);
    if (r == static_cast<std::size_t>(-1)) {
      return errno == EINVAL ? Outcome::kIncomplete : Outcome::kInvalid;
    }
    if (r != 0 || il != 0) return Outcome::kInvalid;
    if (iconv(cd_, nullptr, nullptr, &op, &ol) == static_cast<std::size_t>(-1)) {
      return Outcome::kInvalid;
    }
    out_len = out_cap - ol;
    return Outcome::kExact;
  }

 private:
  iconv_t cd_;
};

// A double-byte page: single bytes, lead bytes with their 256 possible
// second bytes, and the reverse table, all read from iconv on first use.
class DoubleByteCodePage final : public CodePage {
 public:
  DoubleByteCodePage(UINT number, const char* iconv_name)
      : number_(number), iconv_name_(iconv_name) {}

  UINT Number() const override { return number_; }
  bool IsDoubleByte() const override { return true; }

  // Builds the tables on first call; false when the C library lacks the page.
  bool Available() const {
    std::call_once(once_, [this] { const_cast<DoubleByteCodePage*>(this)->Build(); });
    return available_;
  }

  std::size_t Decode(const unsigned char* src, std::size_t len, char16_t& ch,
                     bool& valid) const override {
    const unsigned char b = src[0];
    if (single_[b] != kUndefinedByte) {
      ch = single_[b];
      valid = true;
      return 1;
    }
    ch = kReplacementChar;
    valid = false;
    if (!pairs_[b] || len < 2) return 1;
    const unsigned char t = src[1];
    const char16_t c = (*pairs_[b])[t];
    if (c != kUndefinedByte) {
      ch = c;
      valid = true;
      return 2;
    }
    // No second byte of these pages lies below 40 hex: such a byte is
    // left to be read on its own.
    return t >= 0x40 ? 2 : 1;
  }

  std::size_t Encode(char16_t ch, unsigned char out[2]) const override {
    const std::uint16_t v = encode_[ch];
    if (v == 0) return 0;
    if (v < 0x200) {
      out[0] = static_cast<unsigned char>(v & 0xFF);
      return 1;
    }
    out[0] = static_cast<unsigned char>(v >> 8);
    out[1] = static_cast<unsigned char>(v & 0xFF);
    return 2;
  }

 private:
  // encode_ values: 100 hex + byte for a single byte, lead * 256 + second
  // byte for a pair (leads are 80 hex or above), 0 for none.
  static constexpr std::uint16_t kSingleTag = 0x100;

  static bool OneUnit(const unsigned char* out, std::size_t out_len, char16_t& ch) {
    if (out_len != 2) return false;
    ch = static_cast<char16_t>(out[0] | (out[1] << 8));
    return ch != kUndefinedByte && (ch < 0xD800 || ch > 0xDFFF);
  }

  void Build() {
    IconvHandle decoder("UTF-16LE", iconv_name_);
    IconvHandle encoder(iconv_name_, "UTF-16LE");
    if (!decoder.ok() || !encoder.ok()) return;
    single_.fill(kUndefinedByte);
    unsigned char out[16];
    std::size_t out_len = 0;
    std::vector<unsigned char> leads;
    for (int b = 0; b < 256; ++b) {
      const unsigned char in[1] = {static_cast<unsigned char>(b)};
      const auto outcome = decoder.Convert(in, 1, out, sizeof out, out_len);
      char16_t ch;
      if (outcome == IconvHandle::Outcome::kExact && OneUnit(out, out_len, ch)) {
        single_[b] = ch;
      } else if (outcome != IconvHandle::Outcome::kExact && b >= 0x80) {
        leads.push_back(static_cast<unsigned char>(b));
      }
    }
    for (unsigned char lead : leads) {
      auto row = std::make_unique<std::array<char16_t, 256>>();
      row->fill(kUndefinedByte);
      bool any = false;
      for (int t = 0; t < 256; ++t) {
        const unsigned char in[2] = {lead, static_cast<unsigned char>(t)};
        char16_t ch;
        if (decoder.Convert(in, 2, out, sizeof out, out_len) == IconvHandle::Outcome::kExact &&
            OneUnit(out, out_len, ch)) {
          (*row)[t] = ch;
          any = true;
        }
      }
      if (any) pairs_[lead] = std::move(row);
    }
    BuildEncoder(encoder);
    available_ = true;
  }

  // For every character that some bytes decode to: the bytes iconv encodes
  // it to when they decode back to it, else the lowest such bytes.
  void BuildEncoder(IconvHandle& encoder) {
    encode_.assign(0x10000, 0);
    std::vector<std::uint16_t> first(0x10000, 0);
    for (int b = 0; b < 256; ++b) {
      if (single_[b] != kUndefinedByte && first[single_[b]] == 0) {
        first[single_[b]] = static_cast<std::uint16_t>(kSingleTag | b);
      }
    }
    for (int l = 0; l < 256; ++l) {
      if (!pairs_[l]) continue;
      for (int t = 0; t < 256; ++t) {
        const char16_t c = (*pairs_[l])[t];
        if (c != kUndefinedByte && first[c] == 0) first[c] = static_cast<std::uint16_t>(l << 8 | t);
      }
    }
    unsigned char out[16];
    std::size_t out_len = 0;
    for (std::uint32_t c = 0; c < 0x10000; ++c) {
      if (first[c] == 0) continue;
      const unsigned char in[2] = {static_cast<unsigned char>(c & 0xFF),
                                   static_cast<unsigned char>(c >> 8)};
      std::uint16_t chosen = first[c];
      if (encoder.Convert(in, 2, out, sizeof out, out_len) == IconvHandle::Outcome::kExact) {
        if (out_len == 1 && single_[out[0]] == c) {
          chosen = static_cast<std::uint16_t>(kSingleTag | out[0]);
        } else if (out_len == 2 && pairs_[out[0]] && (*pairs_[out[0]])[out[1]] == c) {
          chosen = static_cast<std::uint16_t>(out[0] << 8 | out[1]);
        }
      }
      encode_[c] = chosen;
    }
  }

  UINT number_;
  const char* iconv_name_;
  mutable std::once_flag once_;
  bool available_ = false;
  std::array<char16_t, 256> single_{};
  std::array<std::unique_ptr<std::array<char16_t, 256>>, 256> pairs_;
  std::vector<std::uint16_t> encode_;
};

const std::vector<std::unique_ptr<SingleByteCodePage>>& SingleBytePages() {
  static const auto* pages = [] {
    auto* v = new std::vector<std::unique_ptr<SingleByteCodePage>>();
    for (const SingleByteTable& t : SingleByteTables()) {
      v->push_back(std::make_unique<SingleByteCodePage>(t));
    }
    return v;
  }();
  return *pages;
}

DoubleByteCodePage* DoubleBytePage(UINT code_page) {
  // Never destroyed: other threads may convert while the process exits.
  static auto* const pages = new std::array<DoubleByteCodePage, 4>{
      DoubleByteCodePage(932, "CP932"), DoubleByteCodePage(936, "CP936"),
      DoubleByteCodePage(949, "CP949"), DoubleByteCodePage(950, "CP950")};
  for (auto& page : *pages) {
    if (page.Number() == code_page) return &page;
  }
  return nullptr;
}

}  // namespace

const CodePage* FindCodePage(UINT code_page) {
  if (code_page == CP_ACP || code_page == CP_THREAD_ACP) code_page = GetACP();
  for (const auto& page : SingleBytePages()) {
    if (page->Number() == code_page) return page.get();
  }
  DoubleByteCodePage* page = DoubleBytePage(code_page);
  if (page && page->Available()) return page;
  return nullptr;
}

}  // namespace vandrel::win::nls
