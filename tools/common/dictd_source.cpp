// Reading dictd index and data files.
#include "tools/common/dictd_source.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/utf8.h"
#include "tools/common/gzip_file.h"
#include "tools/common/huge_pages.h"
#include "tools/common/languages.h"
#include "tools/common/markup.h"

namespace vandrel::tools {
namespace {

constexpr int kMaxReportedErrors = 10;
// Index bytes below which one thread reads the whole index.
constexpr std::size_t kIndexBytesPerThread = std::size_t{1} << 20;

bool EndsWith(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// UTF-8, or Latin-1 when the bytes are not valid UTF-8.
WideString DecodeText(std::string_view bytes) {
  WideString w;
  if (Utf8ToWide(bytes, w)) return w;
  w.clear();
  for (unsigned char b : bytes) w.push_back(b);
  return w;
}

bool IsSpace(char16_t u) {
  return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == kLineBreak;
}

void TrimInPlace(WideString& w) {
  std::size_t b = 0, e = w.size();
  while (b < e && IsSpace(w[b])) ++b;
  while (e > b && IsSpace(w[e - 1])) --e;
  w.resize(e);
  w.erase(0, b);
}

// A definition byte that becomes white space at either end of the text
// (control characters become spaces or line breaks).
bool IsBlankByte(unsigned char b) { return b <= 0x20; }

// The text of a "00-database-..." definition, without its first line when
// that line only repeats the headword.
WideString MetaText(std::string_view bytes, std::string_view headword) {
  std::string_view body = bytes;
  std::size_t nl = body.find('\n');
  std::string_view first = body.substr(0, nl);
  while (!first.empty() && (first.back() == ' ' || first.back() == '\r')) first.remove_suffix(1);
  if (first == headword)
    body = nl == std::string_view::npos ? std::string_view() : body.substr(nl + 1);
  return DictdDefinitionToMarkup(body);
}

}  // namespace

bool IsDictdPath(const std::string& path) {
  return EndsWith(path, ".index") || EndsWith(path, ".dict") || EndsWith(path, ".dict.dz");
}

DictdFiles FindDictdFiles(const std::string& path) {
  std::string stem = path;
  for (std::string_view ext : {".index", ".dict.dz", ".dict"}) {
    if (EndsWith(stem, ext)) {
      stem.resize(stem.size() - ext.size());
      break;
    }
  }
  DictdFiles f;
  f.index = stem + ".index";
  if (!Exists(f.index)) throw Exception("dictd index " + f.index + " not found");
  if (Exists(stem + ".dict")) {
    f.data = stem + ".dict";
  } else if (Exists(stem + ".dict.dz")) {
    f.data = stem + ".dict.dz";
  } else {
    throw Exception("dictd data " + stem + ".dict or " + stem + ".dict.dz not found");
  }
  f.base = std::filesystem::path(stem).filename().string();
  return f;
}

bool DecodeDictdNumber(std::string_view digits, std::uint64_t& value) {
  if (digits.empty()) return false;
  std::uint64_t v = 0;
  for (char c : digits) {
    int d;
    if (c >= 'A' && c <= 'Z') {
      d = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      d = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      d = c - '0' + 52;
    } else if (c == '+') {
      d = 62;
    } else if (c == '/') {
      d = 63;
    } else {
      return false;
    }
    v = v * 64 + static_cast<std::uint64_t>(d);
    if (v >> 48) return false;
  }
  value = v;
  return true;
}

void DictdDefinitionToMarkup(std::string_view bytes, WideString& out) {
  // UTF-8 never gives more units than bytes; out is cut to size at the end.
  out.resize(bytes.size());
  char16_t* const begin = out.data();
  char16_t* put_at = begin;
  // A CR right before LF is one break with it.
  bool after_cr = false;
  const auto put = [&](char16_t u) {
    if (u == '\n' && after_cr) {
      after_cr = false;
      return;
    }
    after_cr = u == '\r';
    *put_at++ = u == '\n' || u == '\r' ? kLineBreak : u < 0x20 ? u' ' : u;
  };
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  // Text is mostly ASCII: it needs no decoding.
  while (i < bytes.size() && b[i] < 0x80) {
    const unsigned char c = b[i++];
    if (c >= 0x20) {
      // put() without its tests: neither a break nor a control character.
      *put_at++ = c;
      after_cr = false;
    } else {
      put(c);
    }
  }
  if (i < bytes.size() && !DecodeUtf8(b + i, bytes.size() - i, true, put)) {
    // Not UTF-8: Latin-1.
    put_at = begin;
    after_cr = false;
    for (std::size_t k = 0; k < bytes.size(); ++k) put(b[k]);
  }
  out.resize(static_cast<std::size_t>(put_at - begin));
  TrimInPlace(out);
}

WideString DictdDefinitionToMarkup(std::string_view bytes) {
  WideString out;
  DictdDefinitionToMarkup(bytes, out);
  return out;
}

std::size_t DictdMarkupLength(std::string_view bytes) {
  // White space at the ends is dropped: what remains starts and ends with a
  // byte above U+0020, so every CR LF pair lies inside it.
  std::size_t b = 0, e = bytes.size();
  while (b < e && IsBlankByte(static_cast<unsigned char>(bytes[b]))) ++b;
  while (e > b && IsBlankByte(static_cast<unsigned char>(bytes[e - 1]))) --e;
  const std::string_view middle = bytes.substr(b, e - b);
  const auto* m = reinterpret_cast<const unsigned char*>(middle.data());
  const std::size_t n = middle.size();
  // Text is mostly ASCII, a unit a byte: passed 8 bytes at a time.
  std::size_t i = 0;
  for (std::uint64_t word; i + 8 <= n; i += 8) {
    std::memcpy(&word, m + i, 8);
    if (word & 0x8080808080808080u) break;
  }
  while (i < n && m[i] < 0x80) ++i;
  std::size_t units = i;
  if (i < n) {
    std::size_t rest = 0;
    if (DecodeUtf8(m + i, n - i, true, [&](char16_t) { ++rest; })) {
      units += rest;
    } else {
      // Latin-1 of all bytes: the ends trimmed are the same bytes.
      units = n;
    }
  }
  // A CR LF pair is one break (CRs are rare).
  for (const void* cr = std::memchr(m, '\r', n); cr != nullptr;) {
    const std::size_t at = static_cast<std::size_t>(static_cast<const unsigned char*>(cr) - m);
    if (at + 1 >= n) break;
    units -= m[at + 1] == '\n';
    cr = std::memchr(m + at + 1, '\r', n - at - 1);
  }
  return units;
}

Source ParseDictdSource(std::string_view index, std::string_view data, const std::string& name) {
  Source src = ParseDictdSource(index, std::make_shared<const std::string>(data), name);
  for (SourceEntry& e : src.entries) {
    e.trans = DictdDefinitionToMarkup(e.definition);
    e.definition = {};
  }
  src.data.reset();
  return src;
}

namespace {

// What one stretch of index lines gives: entries at out[first...], and
// the bad lines (the first few described).
struct IndexPart {
  std::string_view text;         // whole lines
  std::uint32_t first_line = 0;  // the number of its first line, less one
  std::size_t first = 0;         // its first slot in the output
  std::size_t count = 0;         // entries it gave
  int errors = 0;
  std::vector<std::string> reported;  // the first kMaxReportedErrors errors, a line each
  SourceParams params;                // name and description, when given
  std::exception_ptr failure;         // other than a bad line (out of memory)
};

void ParseIndexPart(IndexPart& part, std::string_view data, const std::string& name,
                    std::vector<SourceEntry>& out) {
  auto error = [&](std::uint32_t line_no, const std::string& what) {
    if (++part.errors <= kMaxReportedErrors)
      part.reported.push_back(name + ":" + std::to_string(line_no) + ": " + what + "\n");
  };
  const std::string_view index = part.text;
  std::size_t at = part.first;
  std::size_t pos = 0;
  std::uint32_t line_no = part.first_line;
  while (pos < index.size()) {
    std::size_t end = index.find('\n', pos);
    if (end == std::string_view::npos) end = index.size();
    std::string_view line = index.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    std::size_t t1 = line.find('\t');
    std::size_t t2 = t1 == std::string_view::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string_view::npos) {
      error(line_no, "expected headword, offset and length separated by TABs");
      continue;
    }
    std::size_t t3 = line.find('\t', t2 + 1);
    std::string_view headword = line.substr(0, t1);
    std::string_view off_text = line.substr(t1 + 1, t2 - t1 - 1);
    std::string_view len_text =
        line.substr(t2 + 1, t3 == std::string_view::npos ? t3 : t3 - t2 - 1);
    std::uint64_t off = 0, len = 0;
    if (!DecodeDictdNumber(off_text, off) || !DecodeDictdNumber(len_text, len)) {
      error(line_no, "bad offset or length");
      continue;
    }
    if (off > data.size() || len > data.size() - off) {
      error(line_no, "definition at " + std::to_string(off) + " (" + std::to_string(len) +
                         " bytes) lies outside the data file of " + std::to_string(data.size()) +
                         " bytes");
      continue;
    }
    std::string_view def = data.substr(off, len);
    if (headword.substr(0, 12) == "00-database-" || headword.substr(0, 10) == "00database") {
      std::string key(headword.substr(headword[2] == '-' ? 12 : 10));
      if (key == "short") part.params.name = MetaText(def, headword);
      if (key == "info") part.params.description = MetaText(def, headword);
      continue;
    }
    SourceEntry& e = out[at++];
    e.word = DecodeText(headword);
    TrimInPlace(e.word);
    e.line = line_no;
    e.definition = def;
  }
  part.count = at - part.first;
}

}  // namespace

Source ParseDictdSource(std::string_view index, std::shared_ptr<const std::string> data_owner,
                        const std::string& name) {
  Source src;
  src.data = std::move(data_owner);
  const std::string_view data = *src.data;
  // Large indexes are read in two parts on two threads, cut after a line;
  // each part's entries go to their own slots (one entry a line, at most),
  // closed up afterwards.
  std::vector<IndexPart> parts(1);
  parts[0].text = index;
  parts[0].first_line = 0;
  if (index.size() >= kIndexBytesPerThread && std::thread::hardware_concurrency() > 1) {
    const std::size_t cut = index.find('\n', index.size() / 2);
    if (cut != std::string_view::npos && cut + 1 < index.size()) {
      parts.resize(2);
      parts[0].text = index.substr(0, cut + 1);
      parts[1].text = index.substr(cut + 1);
    }
  }
  std::size_t slots = 0;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    const auto lines =
        static_cast<std::size_t>(std::count(parts[p].text.begin(), parts[p].text.end(), '\n'));
    parts[p].first = slots;
    if (p > 0) parts[p].first_line = static_cast<std::uint32_t>(slots);
    slots += lines + (p + 1 == parts.size() ? 1 : 0);
  }
  src.entries.reserve(slots);
  AdviseHugePages(src.entries.data(), slots * sizeof(SourceEntry));
  src.entries.resize(slots);
  {
    const auto run = [&](IndexPart& part) {
      try {
        ParseIndexPart(part, data, name, src.entries);
      } catch (...) {
        part.failure = std::current_exception();
      }
    };
    std::vector<std::jthread> helpers;
    for (std::size_t p = 1; p < parts.size(); ++p)
      helpers.emplace_back([&run, &part = parts[p]] { run(part); });
    run(parts[0]);
  }
  int errors = 0;
  std::string report;
  std::size_t n = 0;
  for (IndexPart& part : parts) {
    if (part.failure) std::rethrow_exception(part.failure);
    // Reported in line order, the first few of all.
    for (const std::string& line : part.reported)
      if (errors++ < kMaxReportedErrors) report += line;
    errors += part.errors - static_cast<int>(part.reported.size());
    if (part.params.name) src.params.name = std::move(part.params.name);
    if (part.params.description) src.params.description = std::move(part.params.description);
    if (n != part.first)
      std::move(src.entries.begin() + static_cast<std::ptrdiff_t>(part.first),
                src.entries.begin() + static_cast<std::ptrdiff_t>(part.first + part.count),
                src.entries.begin() + static_cast<std::ptrdiff_t>(n));
    n += part.count;
  }
  src.entries.resize(n);
  if (errors > 0) {
    if (errors > kMaxReportedErrors) {
      report += "... and " + std::to_string(errors - kMaxReportedErrors) + " more bad lines\n";
    }
    throw ESourceFormat(report + name + ": " + std::to_string(errors) + " bad index line" +
                        (errors == 1 ? "" : "s"));
  }
  return src;
}

Source ReadDictdSource(const std::string& path) {
  DictdFiles f = FindDictdFiles(path);
  std::string index = ReadWholeFile(f.index);
  auto data = std::make_shared<const std::string>(EndsWith(f.data, ".dz") ? GunzipFile(f.data)
                                                                          : ReadWholeFile(f.data));
  Source src = ParseDictdSource(index, std::move(data), f.index);
  src.params.short_name = Utf8ToWideOrThrow(f.base);
  if (auto langs = LanguagesFromName(f.base)) {
    src.params.language = langs->first;
    src.params.trans_language = langs->second;
  }
  return src;
}

}  // namespace vandrel::tools
