// A reader position: navigation, index descent, the current word and its
// translation.
#include "dictionary/dic_reader.h"

#include <algorithm>

#include "dictionary/dic_format.h"
#include "dictionary/page_man.h"

namespace vandrel {

namespace {

// Leading characters that a and b share by primary weight.
std::size_t SharedPrefix(WideView a, WideView b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && CharWeight(a[i], kWeightPrimary) == CharWeight(b[i], kWeightPrimary)) ++i;
  return i;
}

}  // namespace

TDicReader::TDicReader(std::shared_ptr<const TDicFile> file) : file_(std::move(file)) {
  bof_ = eof_ = RecordCount() == 0;
}

bool TDicReader::Seek(WideView key) {
  const std::int32_t n = RecordCount();
  if (n == 0) {
    // An empty dictionary has no place to seek: the flags say "nothing".
    page_no_ = item_no_ = -1;
    bof_ = eof_ = false;
    return false;
  }
  const TDicFile& file = *file_;
  bool found = false;
  std::int64_t page_no = 0;
  std::int64_t rec = 0;
  for (std::uint32_t i = file.LayerCount(); i-- > 0;) {
    const TDicFile::TPage page = file.LayerPage(static_cast<int>(i), page_no);
    const int item = file.SearchPage(page, dic::kIndexKeyAt, key, found, probe_);
    int size = 0;
    const std::uint8_t* ptr = file.Item(page, item, dic::kIndexKeyAt, size);
    rec = TPageMan::GetInt(ptr);
    page_no = TPageMan::GetInt(ptr);
  }
  const TDicFile::TPage leaf = file.LeafPage(page_no);
  const int item = file.SearchPage(leaf, dic::kLeafKeyAt, key, found, probe_);
  rec += item;
  if (rec < 0 || rec >= n) {
    TDamage damage;
    damage.check = "record number of the index outside the record count";
    damage.layer = -1;
    damage.page = page_no;
    damage.item = item;
    file.RaiseDamaged(std::move(damage));
  }
  page_no_ = static_cast<std::int32_t>(page_no);
  item_no_ = item;
  rec_no_ = static_cast<std::int32_t>(rec);
  bof_ = eof_ = false;
  DropWord();
  return found;
}

bool TDicReader::FindExact(WideView key) {
  if (RecordCount() == 0 || (bof_ && eof_)) return false;
  const TMark saved = Mark();
  if (Seek(key)) return true;
  if (CompareWeighted(key, GetWord(), kWeightPrimary) == 0) return true;
  Next();
  if (eof_) return false;
  if (CompareWeighted(key, GetWord(), kWeightPrimary) == 0) return true;
  // Back where it was; Bof and Eof stay as the steps left them.
  page_no_ = saved.page_no;
  item_no_ = saved.item_no;
  rec_no_ = saved.rec_no;
  TakeBackWord(saved);
  return false;
}

void TDicReader::FindNearest(WideView key) {
  if (RecordCount() == 0 || (bof_ && eof_)) return;
  if (Seek(key)) return;
  const std::size_t before = SharedPrefix(key, GetWord());
  Next();
  if (eof_) return;
  const std::size_t after = SharedPrefix(key, GetWord());
  if (before >= after) Prior();
}

void TDicReader::SetRecNo(std::int32_t value) {
  if (RecordCount() == 0) return;
  const TDicFile& file = *file_;
  if (value < 0) value = 0;
  std::int32_t page = 0;
  std::int32_t first = 0;
  for (std::uint32_t i = file.LayerCount(); i-- > 0;) {
    std::int32_t child = 0;
    file.SearchRecNo(file.LayerPage(static_cast<int>(i), page), value, first, child);
    page = child;
  }
  const int count = file.ItemCount(file.LeafPage(page));
  const std::int64_t rec = std::min<std::int64_t>(value, std::int64_t{count} + first - 1);
  const std::int64_t item = rec - first;
  if (rec < 0 || rec >= RecordCount() || item < 0 || item >= count) {
    TDamage damage;
    damage.check = "first record number of the index against the leaf page";
    damage.layer = -1;
    damage.page = page;
    damage.item = static_cast<int>(std::clamp<std::int64_t>(item, -1, INT32_MAX));
    file.RaiseDamaged(std::move(damage));
  }
  page_no_ = page;
  item_no_ = static_cast<std::int32_t>(item);
  rec_no_ = static_cast<std::int32_t>(rec);
  bof_ = eof_ = false;
  DropWord();
}

void TDicReader::First() {
  if (RecordCount() == 0) return;
  page_no_ = item_no_ = rec_no_ = 0;
  bof_ = eof_ = false;
  DropWord();
}

void TDicReader::Last() {
  if (RecordCount() == 0) return;
  SetRecNo(RecordCount() - 1);
}

void TDicReader::Next() {
  const std::int32_t n = RecordCount();
  if (n == 0 || eof_) return;
  const TDicFile& file = *file_;
  const bool in_page = item_no_ < file.ItemCount(file.LeafPage(page_no_)) - 1;
  if (!in_page && std::int64_t{rec_no_} + 1 == n) {
    eof_ = true;
    return;
  }
  if (std::int64_t{rec_no_} + 1 >= n) {
    TDamage damage;
    damage.check = "more items in the leaf pages than records";
    damage.layer = -1;
    damage.page = page_no_;
    damage.item = item_no_ + 1;
    file.RaiseDamaged(std::move(damage));
  }
  if (in_page) {
    ++item_no_;
  } else {
    // The next page must exist before the position moves onto it.
    file.LeafPage(std::int64_t{page_no_} + 1);
    ++page_no_;
    item_no_ = 0;
  }
  ++rec_no_;
  bof_ = false;
  DropWord();
}

void TDicReader::Prior() {
  if (RecordCount() == 0 || bof_) return;
  if (item_no_ <= 0 && rec_no_ == 0) {
    bof_ = true;
    return;
  }
  const TDicFile& file = *file_;
  if (rec_no_ <= 0) {
    TDamage damage;
    damage.check = "fewer records than leaf items before the position";
    damage.layer = -1;
    damage.page = page_no_;
    damage.item = item_no_;
    file.RaiseDamaged(std::move(damage));
  }
  if (item_no_ <= 0) {
    const int count = file.ItemCount(file.LeafPage(std::int64_t{page_no_} - 1));
    --page_no_;
    item_no_ = count - 1;
  } else {
    --item_no_;
  }
  --rec_no_;
  eof_ = false;
  DropWord();
}

void TDicReader::TakeBackWord(const TMark& mark) {
  // The text still holds the word read at the mark unless a read since
  // replaced it.
  word_valid_ = mark.word_valid && word_page_ == mark.page_no && word_item_ == mark.item_no;
}

void TDicReader::Restore(const TMark& mark) {
  page_no_ = mark.page_no;
  item_no_ = mark.item_no;
  rec_no_ = mark.rec_no;
  bof_ = mark.bof;
  eof_ = mark.eof;
  TakeBackWord(mark);
}

TDicReader TDicReader::Uncached() const {
  TDicReader copy;
  copy.file_ = file_;
  copy.page_no_ = page_no_;
  copy.item_no_ = item_no_;
  copy.rec_no_ = rec_no_;
  copy.bof_ = bof_;
  copy.eof_ = eof_;
  return copy;
}

const WideString& TDicReader::GetWord() {
  if (RecordCount() == 0) {
    word_.clear();
    word_valid_ = false;
    return word_;
  }
  if (word_valid_) return word_;
  // Read into the cache's own memory, so that moving on allocates nothing.
  // A read that fails leaves the text as it was, for a step put back.
  file_->ProbeKey(file_->LeafPage(page_no_), item_no_, dic::kLeafKeyAt, word_);
  word_page_ = page_no_;
  word_item_ = item_no_;
  word_valid_ = true;
  return word_;
}

std::string TDicReader::GetEncodedBody() const {
  if (RecordCount() == 0) return {};
  return file_->EncodedBody(page_no_, item_no_, rec_no_);
}

std::string TDicReader::GetStoredBody() const {
  if (RecordCount() == 0) return {};
  return file_->StoredBody(page_no_, item_no_, rec_no_);
}

WideString TDicReader::GetTrans() const {
  if (RecordCount() == 0) return {};
  return file_->Trans(page_no_, item_no_, rec_no_);
}

}  // namespace vandrel
