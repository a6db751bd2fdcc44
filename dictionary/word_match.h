// Match strategies over a sorted word list: which words of a dictionary
// answer a pattern (exact, prefix, nprefix, substring, suffix, glob, re,
// lev, lev2, soundex, word). Every comparison is at primary strength of the
// collation (charmap.h): letter case and diacritics never count, so "house",
// "House" and "hóuse" match each other under every strategy.
//
// The words come from a TWordSource: any list in dictionary order
// (CompareWords) that can seek to a key and step forward. Where the pattern
// fixes the first letters (exact, prefix, glob and re with a literal
// beginning, soundex's first letter) the walk reads only that range; lev and
// lev2 walk the words as a trie, skipping every word that shares a beginning
// already too far from the pattern. substring, suffix and word read every
// word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary/charmap.h"

namespace vandrel {

enum class TMatchStrategy {
  Exact,
  Prefix,
  NPrefix,
  Substring,
  Suffix,
  Glob,
  Re,
  Lev,
  Lev2,
  Soundex,
  Word,
};

struct TStrategyInfo {
  TMatchStrategy Strategy;
  const char* Name;         // as clients type it: "exact", "lev2" ...
  const char* Description;  // one line for a list of strategies
};

// Every strategy, in the order clients list them.
const std::vector<TStrategyInfo>& MatchStrategies();
// By name, letter case ignored; false for an unknown name.
bool ParseMatchStrategy(std::string_view name, TMatchStrategy& strategy);
const char* MatchStrategyName(TMatchStrategy strategy);

// A pattern the strategy cannot read: a glob with an unclosed "[", a
// regular expression with a syntax error. The message says what is wrong.
class EMatchPattern : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A word list in dictionary order, read by one walk at a time. Word() is
// valid until the next move.
class TWordSource {
 public:
  virtual ~TWordSource() = default;
  virtual void First() = 0;
  // The first word that is not smaller than key at primary strength.
  virtual void Seek(WideView key) = 0;
  // The first word whose first prefix.size() characters are greater than
  // prefix at primary strength: the word after every word that begins with
  // prefix.
  virtual void SeekPast(WideView prefix) = 0;
  virtual bool AtEnd() = 0;
  virtual WideView Word() = 0;
  virtual void Next() = 0;
  // One word back (from the end: onto the last word); false on the first
  // word or in an empty list, which leaves the position as it was.
  virtual bool StepBack() = 0;
};

// A source over words held in memory; the vector must stay alive and
// sorted by CompareWords while the source is used.
class TVectorWordSource : public TWordSource {
 public:
  explicit TVectorWordSource(const std::vector<WideString>& words) : words_(words) {}
  void First() override { at_ = 0; }
  void Seek(WideView key) override;
  void SeekPast(WideView prefix) override;
  bool AtEnd() override { return at_ >= words_.size(); }
  WideView Word() override { return words_[at_]; }
  void Next() override {
    if (at_ < words_.size()) ++at_;
  }
  bool StepBack() override;

 private:
  const std::vector<WideString>& words_;
  std::size_t at_ = 0;
};

// The primary-strength key of a character: its primary weight, or for a
// character outside the weight table (which weighs 0) a key of its own
// above every weight, so that unknown characters still differ from each
// other.
std::uint32_t FoldChar(char16_t ch);
using FoldedString = std::basic_string<std::uint32_t>;
FoldedString FoldWord(WideView word);
// The character that stands for every character of ch's primary weight: the
// one without diacritic, small where the weight has a small letter ("É" ->
// "e"). Characters outside the weight table stand for themselves.
char16_t BaseChar(char16_t ch);

// The character that weighs most in the collation: a key made of a
// beginning and this character sorts after almost every word with that
// beginning.
char16_t GreatestChar();

// Edit distance (insert, delete, replace one character) of two folded
// strings, counted up to limit + 1.
int EditDistance(const FoldedString& a, const FoldedString& b, int limit);

// What one walk did, for measurements.
struct TMatchStats {
  std::size_t WordsRead = 0;
  std::size_t Seeks = 0;
};

// One strategy with one pattern, ready to test words and walk sources.
// Holds no reference to the pattern after construction.
class TWordMatcher {
 public:
  // Throws EMatchPattern for a pattern the strategy cannot read.
  TWordMatcher(TMatchStrategy strategy, WideView pattern);
  ~TWordMatcher();
  TWordMatcher(const TWordMatcher&) = delete;
  TWordMatcher& operator=(const TWordMatcher&) = delete;

  TMatchStrategy Strategy() const { return strategy_; }

  // Whether word answers the pattern. nprefix is positional (it answers the
  // words from the best match on) and tests as prefix here.
  bool Matches(WideView word) const;

  // Appends to out up to limit words of source that answer the pattern, in
  // the source's order; returns how many it appended. nprefix appends the
  // limit words from the best match on: the smallest word that begins with
  // the pattern, else the largest word before it, else the smallest after.
  std::size_t Collect(TWordSource& source, std::size_t limit, std::vector<WideString>& out,
                      TMatchStats* stats = nullptr) const;

  // One element of a parsed glob (defined with the matcher).
  struct TGlobToken;

 private:
  class TRegex;
  std::size_t CollectLev(TWordSource& source, std::size_t limit, std::vector<WideString>& out,
                         TMatchStats& stats) const;
  std::size_t CollectNPrefix(TWordSource& source, std::size_t limit, std::vector<WideString>& out,
                             TMatchStats& stats) const;
  bool GlobMatches(const FoldedString& word) const;

  TMatchStrategy strategy_;
  WideString pattern_;
  FoldedString folded_;
  // The beginning every answer has, as typed: the walk reads only the words
  // that begin with it. Empty when the pattern fixes none.
  WideString range_prefix_;
  bool whole_list_ = false;  // substring, suffix, word: every word is read
  int max_distance_ = 0;
  std::string soundex_;
  std::vector<TGlobToken> glob_;
  std::unique_ptr<TRegex> regex_;
};

// The four-character soundex code of a word ("Robert" -> "R163"); empty
// when the word does not begin with a Latin letter.
std::string Soundex(WideView word);

}  // namespace vandrel
