// Match strategies: folding to primary keys, the glob and soundex
// matchers, regular expressions through RE2, and the walks over a sorted
// word source.
#include "dictionary/word_match.h"

#include <re2/re2.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace vandrel {
namespace {

const std::vector<TStrategyInfo> kStrategies = {
    {TMatchStrategy::Exact, "exact", "Match headwords exactly"},
    {TMatchStrategy::Prefix, "prefix", "Match prefixes"},
    {TMatchStrategy::NPrefix, "nprefix", "Match the words from the best match on"},
    {TMatchStrategy::Substring, "substring", "Match substring occurring anywhere in a headword"},
    {TMatchStrategy::Suffix, "suffix", "Match suffixes"},
    {TMatchStrategy::Glob, "glob", "Match with wildcards: * ? [...]"},
    {TMatchStrategy::Re, "re", "POSIX extended regular expressions"},
    {TMatchStrategy::Lev, "lev", "Match headwords within edit distance one"},
    {TMatchStrategy::Lev2, "lev2", "Match headwords within edit distance two"},
    {TMatchStrategy::Soundex, "soundex", "Match using SOUNDEX algorithm"},
    {TMatchStrategy::Word, "word", "Match separate words within headwords"},
};

constexpr std::uint32_t kUnknownBase = 0x10000;  // keys of characters outside the table

// Per primary weight, the character that stands for it; built once.
struct TBaseChars {
  std::vector<char16_t> by_primary;  // index: primary weight >> 16
  char16_t max_char = u'~';          // the character with the greatest weight
  TBaseChars() : by_primary(0x8000, 0) {
    std::vector<std::uint32_t> best(0x8000, 0xFFFFFFFF);
    std::int32_t max_weight = -1;
    for (std::uint32_t c = 1; c <= 0xFFFF; ++c) {
      const auto ch = static_cast<char16_t>(c);
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      const std::int32_t full = CharWeight(ch, 0xFFFF);
      const std::uint32_t primary = static_cast<std::uint32_t>(full) >> 16;
      if (primary == 0) continue;
      if (full > max_weight) {
        max_weight = full;
        max_char = ch;
      }
      const std::uint32_t diacritic = (static_cast<std::uint32_t>(full) >> 8) & 0xFF;
      const std::uint32_t small = (full & 0xFF) == 0x08 ? 0 : 1;
      const std::uint32_t rank = (diacritic << 24) | (small << 16) | c;
      if (rank < best[primary]) {
        best[primary] = rank;
        by_primary[primary] = ch;
      }
    }
  }
};

const TBaseChars& BaseChars() {
  static const TBaseChars chars;
  return chars;
}

int ComparePrimary(WideView a, WideView b) { return CompareWeighted(a, b, kWeightPrimary); }

// The first n characters of word, or all of it.
WideView Head(WideView word, std::size_t n) { return word.substr(0, std::min(n, word.size())); }

bool BeginsWith(WideView word, WideView prefix) {
  return word.size() >= prefix.size() && ComparePrimary(Head(word, prefix.size()), prefix) == 0;
}

bool IsSpace(char16_t ch) {
  return ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\r' || ch == 0x00A0;
}

void AppendUtf8(std::string& out, char16_t ch) {
  const std::uint32_t c = ch;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    if (c >= 0xD800 && c <= 0xDFFF) {  // a lone surrogate: the replacement character
      out += "\xEF\xBF\xBD";
      return;
    }
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsAsciiPunct(char16_t ch) { return ch < 0x80 && !std::isalnum(static_cast<int>(ch)); }

// The text a regular expression sees: every letter as its base character,
// ASCII punctuation and spaces as they are (they are the expression's
// syntax).
std::string RegexText(WideView text, bool pattern) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t ch = text[i];
    if (pattern && ch == u'\\' && i + 1 < text.size()) {
      AppendUtf8(out, ch);
      AppendUtf8(out, text[++i]);  // an escaped character keeps its meaning
      continue;
    }
    AppendUtf8(out, IsAsciiPunct(ch) ? ch : BaseChar(ch));
  }
  return out;
}

// Latin letter of a character for soundex, or 0.
char LatinLetter(char16_t ch) {
  const char16_t base = BaseChar(ch);
  if (base >= u'a' && base <= u'z') return static_cast<char>(base);
  if (base >= u'A' && base <= u'Z') return static_cast<char>(base - u'A' + u'a');
  return 0;
}

char SoundexDigit(char letter) {
  static const char* const kDigits = "01230120022455012623010202";  // a..z
  return kDigits[letter - 'a'];
}

}  // namespace

// ---- names ----

const std::vector<TStrategyInfo>& MatchStrategies() { return kStrategies; }

bool ParseMatchStrategy(std::string_view name, TMatchStrategy& strategy) {
  for (const TStrategyInfo& info : kStrategies) {
    const std::string_view known = info.Name;
    if (known.size() == name.size() &&
        std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      strategy = info.Strategy;
      return true;
    }
  }
  return false;
}

const char* MatchStrategyName(TMatchStrategy strategy) {
  for (const TStrategyInfo& info : kStrategies)
    if (info.Strategy == strategy) return info.Name;
  return "";
}

// ---- folding ----

std::uint32_t FoldChar(char16_t ch) {
  const auto primary = static_cast<std::uint32_t>(CharWeight(ch, kWeightPrimary)) >> 16;
  return primary != 0 ? primary : kUnknownBase + ch;
}

FoldedString FoldWord(WideView word) {
  FoldedString folded(word.size(), 0);
  for (std::size_t i = 0; i < word.size(); ++i) folded[i] = FoldChar(word[i]);
  return folded;
}

namespace {

// The folded word in a buffer of the calling thread, reused from word to
// word (a walk folds every word it reads).
const FoldedString& FoldInto(WideView word) {
  thread_local FoldedString folded;
  folded.resize(word.size());
  for (std::size_t i = 0; i < word.size(); ++i) folded[i] = FoldChar(word[i]);
  return folded;
}

}  // namespace

char16_t BaseChar(char16_t ch) {
  const auto primary = static_cast<std::uint32_t>(CharWeight(ch, kWeightPrimary)) >> 16;
  if (primary == 0) return ch;
  const char16_t base = BaseChars().by_primary[primary];
  return base != 0 ? base : ch;
}

char16_t GreatestChar() { return BaseChars().max_char; }

int EditDistance(const FoldedString& a, const FoldedString& b, int limit) {
  const int la = static_cast<int>(a.size());
  const int lb = static_cast<int>(b.size());
  if (std::abs(la - lb) > limit) return limit + 1;
  std::vector<int> row(static_cast<std::size_t>(lb) + 1);
  for (int j = 0; j <= lb; ++j) row[static_cast<std::size_t>(j)] = j;
  for (int i = 1; i <= la; ++i) {
    int diagonal = row[0];
    row[0] = i;
    int best = row[0];
    for (int j = 1; j <= lb; ++j) {
      const auto uj = static_cast<std::size_t>(j);
      const int replace = diagonal + (a[static_cast<std::size_t>(i - 1)] == b[uj - 1] ? 0 : 1);
      diagonal = row[uj];
      row[uj] = std::min({replace, row[uj] + 1, row[uj - 1] + 1});
      best = std::min(best, row[uj]);
    }
    if (best > limit) return limit + 1;
  }
  return std::min(row[static_cast<std::size_t>(lb)], limit + 1);
}

std::string Soundex(WideView word) {
  if (word.empty()) return {};
  const char first = LatinLetter(word[0]);
  if (first == 0) return {};
  std::string code(1, static_cast<char>(first - 'a' + 'A'));
  char last = SoundexDigit(first);
  for (std::size_t i = 1; i < word.size() && code.size() < 4; ++i) {
    const char letter = LatinLetter(word[i]);
    if (letter == 0) continue;  // not a letter: ignored
    const char digit = SoundexDigit(letter);
    if (letter == 'h' || letter == 'w') continue;  // do not separate equal codes
    if (digit != '0' && digit != last) code += digit;
    last = digit;
  }
  code.resize(4, '0');
  return code;
}

// ---- the vector source ----

void TVectorWordSource::Seek(WideView key) {
  at_ = static_cast<std::size_t>(
      std::lower_bound(words_.begin(), words_.end(), key,
                       [](const WideString& w, WideView k) { return ComparePrimary(w, k) < 0; }) -
      words_.begin());
}

void TVectorWordSource::SeekPast(WideView prefix) {
  at_ = static_cast<std::size_t>(std::upper_bound(words_.begin(), words_.end(), prefix,
                                                  [](WideView p, const WideString& w) {
                                                    return ComparePrimary(p, Head(w, p.size())) < 0;
                                                  }) -
                                 words_.begin());
}

bool TVectorWordSource::StepBack() {
  if (words_.empty()) return false;
  if (at_ >= words_.size()) {
    at_ = words_.size() - 1;
    return true;
  }
  if (at_ == 0) return false;
  --at_;
  return true;
}

// ---- glob ----

// One element of a glob: a folded character, "?", "*" or a set "[...]".
struct TWordMatcher::TGlobToken {
  enum Kind { Char, Any, Star, Set } kind = Char;
  std::uint32_t ch = 0;
  bool negate = false;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;  // folded, inclusive

  bool Accepts(std::uint32_t c) const {
    switch (kind) {
      case Char:
        return c == ch;
      case Any:
        return true;
      case Star:
        return false;
      case Set:
        break;
    }
    bool in = false;
    for (const auto& [low, high] : ranges) in = in || (c >= low && c <= high);
    return in != negate;
  }
};

namespace {

// Parses a glob; its literal beginning (before the first wildcard) goes to
// prefix.
std::vector<TWordMatcher::TGlobToken> ParseGlob(WideView pattern, WideString& prefix) {
  using Token = TWordMatcher::TGlobToken;
  std::vector<Token> tokens;
  bool literal_run = true;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    char16_t ch = pattern[i];
    Token token;
    if (ch == u'*' || ch == u'?') {
      token.kind = ch == u'*' ? Token::Star : Token::Any;
      literal_run = false;
      if (token.kind == Token::Star && !tokens.empty() && tokens.back().kind == Token::Star)
        continue;
    } else if (ch == u'[') {
      std::size_t j = i + 1;
      token.kind = Token::Set;
      if (j < pattern.size() && (pattern[j] == u'!' || pattern[j] == u'^')) {
        token.negate = true;
        ++j;
      }
      bool closed = false;
      for (bool first = true; j < pattern.size(); first = false) {
        if (pattern[j] == u']' && !first) {
          closed = true;
          break;
        }
        std::uint32_t low = FoldChar(pattern[j]);
        std::uint32_t high = low;
        if (j + 2 < pattern.size() && pattern[j + 1] == u'-' && pattern[j + 2] != u']') {
          high = FoldChar(pattern[j + 2]);
          if (high < low) std::swap(low, high);
          j += 3;
        } else {
          ++j;
        }
        token.ranges.emplace_back(low, high);
      }
      if (!closed) throw EMatchPattern("Unclosed \"[\" in the pattern");
      i = j;
      literal_run = false;
    } else {
      if (ch == u'\\' && i + 1 < pattern.size()) ch = pattern[++i];
      token.ch = FoldChar(ch);
      if (literal_run) prefix += ch;
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

}  // namespace

bool TWordMatcher::GlobMatches(const FoldedString& word) const {
  // Greedy star matching with one backtrack point: linear in practice,
  // never exponential.
  std::size_t w = 0;
  std::size_t p = 0;
  std::size_t star = std::string::npos;
  std::size_t star_w = 0;
  while (w < word.size()) {
    if (p < glob_.size() && glob_[p].kind == TGlobToken::Star) {
      star = p++;
      star_w = w;
    } else if (p < glob_.size() && glob_[p].Accepts(word[w])) {
      ++p;
      ++w;
    } else if (star != std::string::npos) {
      p = star + 1;
      w = ++star_w;
    } else {
      return false;
    }
  }
  while (p < glob_.size() && glob_[p].kind == TGlobToken::Star) ++p;
  return p == glob_.size();
}

// ---- regular expressions ----

class TWordMatcher::TRegex {
 public:
  explicit TRegex(WideView pattern) : re_(RegexText(pattern, true), Options()) {
    if (!re_.ok()) throw EMatchPattern("Bad regular expression: " + re_.error());
  }
  bool Matches(WideView word) const { return RE2::PartialMatch(RegexText(word, false), re_); }

 private:
  static RE2::Options Options() {
    RE2::Options options;
    options.set_posix_syntax(true);
    options.set_longest_match(true);
    options.set_log_errors(false);
    return options;
  }
  RE2 re_;
};

namespace {

// The literal beginning of an anchored expression ("^hou[sz]" -> "hou"):
// every answer begins with it. Empty when the expression has no anchor, an
// alternation, or starts with something other than plain characters.
WideString RegexPrefix(WideView pattern) {
  if (pattern.empty() || pattern[0] != u'^') return {};
  if (pattern.find(u'|') != WideView::npos) return {};
  static const std::u16string_view kSyntax = u".[]()*+?{}|^$\\";
  WideString prefix;
  for (std::size_t i = 1; i < pattern.size(); ++i) {
    const char16_t ch = pattern[i];
    if (kSyntax.find(ch) != WideView::npos) {
      // A quantifier applies to the character before it, which may then be
      // missing or repeated.
      if ((ch == u'*' || ch == u'?' || ch == u'{' || ch == u'+') && !prefix.empty())
        prefix.pop_back();
      break;
    }
    prefix += ch;
  }
  return prefix;
}

}  // namespace

// ---- the matcher ----

TWordMatcher::TWordMatcher(TMatchStrategy strategy, WideView pattern)
    : strategy_(strategy), pattern_(pattern), folded_(FoldWord(pattern)) {
  switch (strategy) {
    case TMatchStrategy::Exact:
    case TMatchStrategy::Prefix:
    case TMatchStrategy::NPrefix:
      range_prefix_ = pattern_;
      break;
    case TMatchStrategy::Substring:
    case TMatchStrategy::Suffix:
    case TMatchStrategy::Word:
      whole_list_ = true;
      break;
    case TMatchStrategy::Glob:
      glob_ = ParseGlob(pattern, range_prefix_);
      break;
    case TMatchStrategy::Re:
      regex_ = std::make_unique<TRegex>(pattern);
      range_prefix_ = RegexPrefix(pattern);
      break;
    case TMatchStrategy::Lev:
      max_distance_ = 1;
      break;
    case TMatchStrategy::Lev2:
      max_distance_ = 2;
      break;
    case TMatchStrategy::Soundex:
      soundex_ = Soundex(pattern);
      if (!soundex_.empty()) range_prefix_ = WideString(1, pattern[0]);
      break;
  }
}

TWordMatcher::~TWordMatcher() = default;

bool TWordMatcher::Matches(WideView word) const {
  switch (strategy_) {
    case TMatchStrategy::Exact:
      return ComparePrimary(word, pattern_) == 0;
    case TMatchStrategy::Prefix:
    case TMatchStrategy::NPrefix:
      return BeginsWith(word, pattern_);
    case TMatchStrategy::Substring: {
      if (pattern_.empty()) return true;
      return FoldInto(word).find(folded_) != FoldedString::npos;
    }
    case TMatchStrategy::Suffix:
      return word.size() >= pattern_.size() &&
             ComparePrimary(word.substr(word.size() - pattern_.size()), pattern_) == 0;
    case TMatchStrategy::Glob:
      return GlobMatches(FoldInto(word));
    case TMatchStrategy::Re:
      return regex_->Matches(word);
    case TMatchStrategy::Lev:
    case TMatchStrategy::Lev2:
      return EditDistance(FoldInto(word), folded_, max_distance_) <= max_distance_;
    case TMatchStrategy::Soundex:
      return !soundex_.empty() && Soundex(word) == soundex_;
    case TMatchStrategy::Word: {
      std::size_t i = 0;
      while (i < word.size()) {
        while (i < word.size() && IsSpace(word[i])) ++i;
        std::size_t end = i;
        while (end < word.size() && !IsSpace(word[end])) ++end;
        if (end > i && ComparePrimary(word.substr(i, end - i), pattern_) == 0) return true;
        i = end;
      }
      return false;
    }
  }
  return false;
}

std::size_t TWordMatcher::Collect(TWordSource& source, std::size_t limit,
                                  std::vector<WideString>& out, TMatchStats* stats) const {
  TMatchStats local;
  TMatchStats& s = stats != nullptr ? *stats : local;
  if (limit == 0) return 0;
  if (strategy_ == TMatchStrategy::NPrefix) return CollectNPrefix(source, limit, out, s);
  if (max_distance_ > 0) return CollectLev(source, limit, out, s);
  if (strategy_ == TMatchStrategy::Soundex && soundex_.empty()) return 0;
  std::size_t found = 0;
  if (range_prefix_.empty() || whole_list_) {
    source.First();
  } else {
    source.Seek(range_prefix_);
    ++s.Seeks;
  }
  for (; !source.AtEnd() && found < limit; source.Next()) {
    const WideView word = source.Word();
    ++s.WordsRead;
    if (!range_prefix_.empty() && !whole_list_ && !BeginsWith(word, range_prefix_)) {
      if (ComparePrimary(Head(word, range_prefix_.size()), range_prefix_) > 0) break;
      continue;
    }
    if (Matches(word)) {
      out.emplace_back(word);
      ++found;
    }
  }
  return found;
}

std::size_t TWordMatcher::CollectNPrefix(TWordSource& source, std::size_t limit,
                                         std::vector<WideString>& out, TMatchStats& s) const {
  source.Seek(pattern_);
  ++s.Seeks;
  // On the first word not smaller than the pattern: it begins with the
  // pattern, or no word does; then the largest word before wins, else this.
  if (source.AtEnd() || !BeginsWith(source.Word(), pattern_)) source.StepBack();
  std::size_t found = 0;
  for (; !source.AtEnd() && found < limit; source.Next(), ++found) {
    ++s.WordsRead;
    out.emplace_back(source.Word());
  }
  return found;
}

std::size_t TWordMatcher::CollectLev(TWordSource& source, std::size_t limit,
                                     std::vector<WideString>& out, TMatchStats& s) const {
  // The sorted words read as a trie: rows[i] is the edit-distance row of
  // the current word's first i characters against the pattern. A word that
  // shares its first n characters with the previous one reuses rows 0..n.
  // When a row's smallest value exceeds the distance, no word that begins
  // with those characters can match: the walk seeks past all of them.
  const std::size_t m = folded_.size();
  const int k = max_distance_;
  std::vector<std::vector<int>> rows(1, std::vector<int>(m + 1));
  for (std::size_t j = 0; j <= m; ++j) rows[0][j] = static_cast<int>(j);
  FoldedString previous;
  std::size_t found = 0;
  source.First();
  while (!source.AtEnd() && found < limit) {
    const WideView word = source.Word();
    ++s.WordsRead;
    const FoldedString& folded = FoldInto(word);
    std::size_t common = 0;
    while (common < previous.size() && common < folded.size() && previous[common] == folded[common])
      ++common;
    if (rows.size() < folded.size() + 1) rows.resize(folded.size() + 1, std::vector<int>(m + 1));
    std::size_t dead = 0;  // length of a beginning too far away, 0 if none
    for (std::size_t i = common + 1; i <= folded.size(); ++i) {
      const std::vector<int>& up = rows[i - 1];
      std::vector<int>& row = rows[i];
      row[0] = static_cast<int>(i);
      int best = row[0];
      for (std::size_t j = 1; j <= m; ++j) {
        row[j] = std::min(
            {up[j - 1] + (folded[i - 1] == folded_[j - 1] ? 0 : 1), up[j] + 1, row[j - 1] + 1});
        best = std::min(best, row[j]);
      }
      if (best > k) {
        dead = i;
        break;
      }
    }
    if (dead != 0) {
      // Words right after usually leave the dead range within a few steps;
      // farther ones are reached by a seek.
      const WideString beginning(word.substr(0, dead));
      previous.assign(folded, 0, dead - 1);  // rows up to dead - 1 stay valid
      int steps = 0;
      source.Next();
      while (!source.AtEnd() && BeginsWith(source.Word(), beginning)) {
        if (++steps == 4) {
          source.SeekPast(beginning);
          ++s.Seeks;
          break;
        }
        ++s.WordsRead;
        source.Next();
      }
      continue;
    }
    if (rows[folded.size()][m] <= k) {
      out.emplace_back(word);
      ++found;
    }
    previous = folded;
    source.Next();
  }
  return found;
}

}  // namespace vandrel
