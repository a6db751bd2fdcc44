// What the word-update end-to-end tests share: the scratch folder's
// dictionaries read straight from the disk, and the service's refusals.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/service_error.h"
#include "dictionary/dic_file.h"
#include "dictionary/dic_reader.h"
#include "platform/utf8.h"
#include "tests/e2e/e2e_fixture.h"

namespace vandrel::test {

class WordUpdateTest : public E2eTest {
 protected:
  // Every (word, translation) of a file, read straight from the disk (the
  // mapping is let go before this returns).
  std::vector<TEntry> Dump(const std::string& name) {
    std::vector<TEntry> all;
    TDicReader reader(TDicFile::Open(DicPath(name)));
    for (reader.First(); !reader.Eof(); reader.Next())
      all.push_back({reader.GetWord(), reader.GetTrans()});
    return all;
  }
  std::vector<WideString> Words(const std::string& name) {
    std::vector<WideString> words;
    for (const TEntry& e : Dump(name)) words.push_back(e.word);
    return words;
  }
  WideString TransOf(const std::string& name, const WideString& word) {
    for (const TEntry& e : Dump(name))
      if (e.word == word) return e.trans;
    return u"<absent>";
  }
  // The error answer of a request that must be refused.
  template <class F>
  static client::EServiceError Refusal(F&& action) {
    try {
      action();
    } catch (const client::EServiceError& e) {
      return e;
    }
    ADD_FAILURE() << "no error answer";
    return client::EServiceError(0, "");
  }
  static WideString Wide(const std::string& ascii) {
    return WideString(ascii.begin(), ascii.end());
  }
};

inline bool operator==(const TEntry& a, const TEntry& b) {
  return a.word == b.word && a.trans == b.trans;
}
inline void PrintTo(const TEntry& e, std::ostream* out) {
  *out << WideToUtf8(e.word) << "=" << WideToUtf8(e.trans);
}

}  // namespace vandrel::test
