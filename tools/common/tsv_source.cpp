// Reading and writing the tab-separated dictionary source.
#include "tools/common/tsv_source.h"

#include <cstdio>

#include "platform/utf8.h"
#include "tools/common/languages.h"
#include "tools/common/markup.h"

namespace vandrel::tools {
namespace {

constexpr int kMaxReportedErrors = 10;

int HexDigit(char16_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseFlag(std::string_view v, bool& out) {
  if (v == "1" || v == "yes" || v == "true") return out = true, true;
  if (v == "0" || v == "no" || v == "false") return out = false, true;
  return false;
}

class TsvParser {
 public:
  TsvParser(std::string_view text, const std::string& name) : text_(text), name_(name) {}

  Source Run() {
    std::size_t pos = 0;
    std::uint32_t line_no = 0;
    while (pos < text_.size()) {
      std::size_t end = text_.find('\n', pos);
      if (end == std::string_view::npos) end = text_.size();
      std::string_view line = text_.substr(pos, end - pos);
      pos = end + 1;
      ++line_no;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line_no == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);  // BOM
      if (line.empty()) continue;
      if (line[0] == '#') {
        if (line.substr(0, 2) == "#!") Directive(line.substr(2), line_no);
        continue;
      }
      Entry(line, line_no);
    }
    if (errors_ > 0) {
      std::string msg = report_;
      if (errors_ > kMaxReportedErrors) {
        msg += "... and " + std::to_string(errors_ - kMaxReportedErrors) + " more bad lines\n";
      }
      msg += name_ + ": " + std::to_string(errors_) + " bad line" + (errors_ == 1 ? "" : "s");
      throw ESourceFormat(msg);
    }
    return std::move(source_);
  }

 private:
  void Error(std::uint32_t line_no, const std::string& what) {
    if (++errors_ <= kMaxReportedErrors)
      report_ += name_ + ":" + std::to_string(line_no) + ": " + what + "\n";
  }

  void Entry(std::string_view line, std::uint32_t line_no) {
    std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return Error(line_no, "no TAB between word and translation");
    if (line.find('\t', tab + 1) != std::string_view::npos) {
      return Error(line_no, "more than one TAB (write \\9 for mark 9)");
    }
    SourceEntry e;
    e.line = line_no;
    std::string why;
    if (!UnescapeField(line.substr(0, tab), e.word, why)) return Error(line_no, "word: " + why);
    if (!UnescapeField(line.substr(tab + 1), e.trans, why))
      return Error(line_no, "translation: " + why);
    if (auto bad = CheckMarkup(e.trans)) return Error(line_no, "translation: " + bad->message);
    source_.entries.push_back(std::move(e));
  }

  void Directive(std::string_view body, std::uint32_t line_no) {
    std::size_t tab = body.find('\t');
    if (tab == std::string_view::npos)
      return Error(line_no, "directive without TAB before its value");
    std::string key(body.substr(0, tab));
    std::string_view value = body.substr(tab + 1);
    SourceParams& p = source_.params;
    if (key == "name" || key == "short-name" || key == "description") {
      WideString text;
      std::string why;
      if (!UnescapeField(value, text, why)) return Error(line_no, key + ": " + why);
      (key == "name"         ? p.name
       : key == "short-name" ? p.short_name
                             : p.description) = std::move(text);
    } else if (key == "language" || key == "trans-language") {
      try {
        (key == "language" ? p.language : p.trans_language) = ParseLanguage(std::string(value));
      } catch (const std::exception& e) {
        Error(line_no, e.what());
      }
    } else if (key == "scrambled" || key == "compressed") {
      bool flag = false;
      if (!ParseFlag(value, flag)) return Error(line_no, key + ": expected 0 or 1");
      (key == "scrambled" ? p.scrambled : p.compressed) = flag;
    } else {
      Error(line_no, "unknown directive #!" + key);
    }
  }

  std::string_view text_;
  const std::string& name_;
  Source source_;
  int errors_ = 0;
  std::string report_;
};

}  // namespace

std::string EscapeField(WideView text, bool is_word) {
  WideString escaped;
  escaped.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u == '\\') {
      escaped += u"\\\\";
    } else if (u >= 1 && u <= 9) {
      escaped += u'\\';
      escaped += static_cast<char16_t>('0' + u);
    } else if (u == kMarkBlock) {
      escaped += u"\\b";
    } else if (u == kMarkRaw) {
      escaped += u"\\f";
    } else if (u == kLineBreak) {
      escaped += u"\\n";
    } else if (u < 0x20 || u == 0x7F) {
      static const char16_t kDigits[] = u"0123456789ABCDEF";
      escaped += u"\\x";
      escaped += kDigits[u >> 4];
      escaped += kDigits[u & 0xF];
    } else if (u == '#' && i == 0 && is_word) {
      escaped += u"\\#";
    } else {
      escaped += u;
    }
  }
  return WideToUtf8(escaped);
}

bool UnescapeField(std::string_view field, WideString& out, std::string& error) {
  WideString raw;
  std::size_t bad_at = 0;
  if (!Utf8ToWide(field, raw, &bad_at)) {
    error = "invalid UTF-8 at byte " + std::to_string(bad_at + 1);
    return false;
  }
  out.clear();
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    char16_t u = raw[i];
    if (u == '\t') {
      error = "TAB inside a field";
      return false;
    }
    if (u != '\\') {
      out += u;
      continue;
    }
    if (++i >= raw.size()) {
      error = "backslash at the end of a field (write \\\\ for a backslash)";
      return false;
    }
    char16_t e = raw[i];
    if (e >= '1' && e <= '9') {
      out += static_cast<char16_t>(e - '0');
    } else if (e == 'b') {
      out += kMarkBlock;
    } else if (e == 'f') {
      out += kMarkRaw;
    } else if (e == 'n') {
      out += kLineBreak;
    } else if (e == '\\' || e == '#') {
      out += e;
    } else if (e == 'x' && i + 2 < raw.size() && HexDigit(raw[i + 1]) >= 0 &&
               HexDigit(raw[i + 2]) >= 0) {
      out += static_cast<char16_t>(HexDigit(raw[i + 1]) * 16 + HexDigit(raw[i + 2]));
      i += 2;
    } else {
      error = "unknown escape \\" + WideToUtf8(WideView(&raw[i], 1)) + " at character " +
              std::to_string(i);
      return false;
    }
  }
  return true;
}

Source ParseTsvSource(std::string_view text, const std::string& name) {
  return TsvParser(text, name).Run();
}

Source ReadTsvSource(const std::string& path) {
  std::string text = ReadWholeFile(path);
  return ParseTsvSource(text, path);
}

std::string TsvDirectives(const SourceParams& p) {
  std::string out;
  auto text = [&](const char* key, const std::optional<WideString>& v) {
    if (v) out += std::string("#!") + key + "\t" + EscapeField(*v, false) + "\n";
  };
  auto lang = [&](const char* key, const std::optional<std::uint16_t>& v) {
    if (!v) return;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", *v);
    std::string s = LanguageShortName(*v);
    // The short name only when it reads back as the same identifier.
    std::string value = buf;
    if (!s.empty()) {
      try {
        if (ParseLanguage(s) == *v) value = s;
      } catch (const std::exception&) {
      }
    }
    out += std::string("#!") + key + "\t" + value + "\n";
  };
  auto flag = [&](const char* key, const std::optional<bool>& v) {
    if (v) out += std::string("#!") + key + "\t" + (*v ? "1" : "0") + "\n";
  };
  text("name", p.name);
  text("short-name", p.short_name);
  text("description", p.description);
  lang("language", p.language);
  lang("trans-language", p.trans_language);
  flag("scrambled", p.scrambled);
  flag("compressed", p.compressed);
  return out;
}

std::string TsvLine(WideView word, WideView trans) {
  std::string line = EscapeField(word, true);
  line += '\t';
  line += EscapeField(trans, false);
  line += '\n';
  return line;
}

}  // namespace vandrel::tools
