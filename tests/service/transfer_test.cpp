// The transfer channel in one process: exact bytes and sizes, numbering and
// growth, views of old numbers, open failures, the checked reader on
// damaged buffers, retired channels and the text conversion of errors.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/process.h"
#include "service/errors.h"
#include "service/link_object.h"
#include "service/transfer_man.h"
#include "tests/support/test_support.h"

namespace vandrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Written(const TTransferMan& t) {
  return Bytes(t.WriteBuffer(), t.WriteBuffer() + t.WriteLength());
}

// Expects ELocal with this code and message.
template <class F>
void ExpectLocal(F&& f, int code, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (const ELocal& e) {
    EXPECT_EQ(e.HelpContext(), code);
    EXPECT_EQ(e.Message(), message);
  }
}

class TransferTest : public ::testing::Test {
 protected:
  void TearDown() override { FreeRetiredTransfers(); }
  test::ScopedRuntimeDir runtime_;
};

TEST_F(TransferTest, BuffersStartAtSixZeroBytesAndGrowAtLeastTwofold) {
  TTransferMan t;
  EXPECT_EQ(t.BufferId(), 1) << "a fresh counter starts at 1";
  EXPECT_EQ(t.BufferSize(), 6);
  EXPECT_EQ(Bytes(t.WriteBuffer(), t.WriteBuffer() + 6), Bytes(6, 0));
  TTransferMan second;
  EXPECT_EQ(second.BufferId(), 2);

  t.SetAnswer(1);
  t.ResetWrite();
  t.WriteInteger(7, -2);
  EXPECT_EQ(t.BufferSize(), 16);
  EXPECT_EQ(t.BufferId(), 3) << "growth takes the next number";
  EXPECT_EQ(Written(t), (Bytes{1, 0, 0, 0, 7, 0, 4, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(t.WriteBuffer()[14], 0);
  EXPECT_EQ(t.WriteBuffer()[15], 0) << "end mark";

  // 26 bytes needed: twice 16; then 40 needed: twice 32.
  t.WriteWideString(0x0102, u"ab");
  EXPECT_EQ(t.BufferSize(), 32);
  EXPECT_EQ(t.BufferId(), 4);
  t.WriteDouble(9, 1.0);
  EXPECT_EQ(t.BufferSize(), 64);
  EXPECT_EQ(t.BufferId(), 5);
  EXPECT_EQ(t.WriteLength(), 38u);
  EXPECT_EQ(t.WriteBuffer()[38], 0);
  EXPECT_EQ(t.WriteBuffer()[39], 0) << "end mark";
  const Bytes tail(t.WriteBuffer() + 14, t.WriteBuffer() + 40);
  EXPECT_EQ(tail, (Bytes{2, 1, 4, 0, 0, 0, 'a', 0, 'b', 0,    9,    0, 8,
                         0, 0, 0, 0, 0, 0, 0,   0, 0,   0xF0, 0x3F, 0, 0}));
  // An empty string is id and length only; a rewrite from the start reuses
  // the grown buffer under the same number.
  t.ResetWrite();
  t.WriteWideString(4, u"");
  EXPECT_EQ(Written(t), (Bytes{1, 0, 0, 0, 4, 0, 0, 0, 0, 0}));
  EXPECT_EQ(t.BufferId(), 5);
  EXPECT_EQ(t.BufferSize(), 64);
  // An item bigger than twice the buffer takes what it needs.
  t.WriteWideString(5, std::u16string(100, u'x'));
  EXPECT_EQ(t.BufferSize(), 10 + 206 + 2);
  // Many small items: the buffer grows about log2 of their count times.
  const std::int32_t before = t.BufferId();
  t.ResetWrite();
  for (int i = 0; i < 20000; ++i) t.WriteInteger(7, i);
  EXPECT_LE(t.BufferId() - before, 11);  // 218 bytes doubled 10 times hold them
  EXPECT_GE(t.BufferSize(), 4 + 20000 * 10 + 2);
}

TEST_F(TransferTest, ItemsWrittenAreReadBackInOrderThroughANamedView) {
  TTransferMan writer, reader;
  const std::u16string text = u"K\u00F6nig \U00010348";
  writer.SetAnswer(kAnswerDone);
  writer.ResetWrite();
  writer.WriteInteger(1, -123456789);
  writer.WriteDouble(2, 6.02214076e23);
  writer.WriteWideString(3, text);
  writer.WriteWideString(4, u"");
  reader.OpenRead(writer.BufferId(), 11111);
  EXPECT_EQ(reader.ReadId(), writer.BufferId());
  EXPECT_EQ(reader.ReadSize(), static_cast<std::size_t>(writer.BufferSize()));
  EXPECT_EQ(reader.ReadAnswer(), kAnswerDone);
  reader.CheckItemId(1);
  EXPECT_EQ(reader.ReadInteger(1), -123456789);
  EXPECT_EQ(reader.ReadDouble(2), 6.02214076e23);
  EXPECT_EQ(reader.ReadWideString(3), text);
  EXPECT_EQ(reader.ReadWideString(4), u"");
  // Past the last item lies the end mark.
  ExpectLocal([&] { reader.ReadInteger(5); }, kErrWrongReadId, "Wrong read ID. Query 11111");
  // Opening the same number again starts over on the same view.
  reader.OpenRead(writer.BufferId(), -5);
  EXPECT_EQ(reader.ReadInteger(1), -123456789);
  ExpectLocal([&] { reader.ReadInteger(3); }, kErrWrongReadId, "Wrong read ID. Query -5");
}

TEST_F(TransferTest, ViewOfAnOldNumberKeepsTheOldContent) {
  TTransferMan writer, reader;
  writer.ResetWrite();
  writer.WriteInteger(1, 100);
  const std::int32_t old_number = writer.BufferId();
  reader.OpenRead(old_number, 1);
  writer.ResetWrite();
  writer.WriteWideString(1, std::u16string(500, u'z'));  // grows: new number
  ASSERT_NE(writer.BufferId(), old_number);
  reader.OpenRead(old_number, 1);
  EXPECT_EQ(reader.ReadInteger(1), 100);
  reader.OpenRead(writer.BufferId(), 1);
  EXPECT_EQ(reader.ReadWideString(1), std::u16string(500, u'z'));
  // The old buffer went with the last view of it.
  try {
    reader.OpenRead(old_number, 1);
    ADD_FAILURE() << "the old buffer outlived its last view";
  } catch (const ELocal& e) {
    EXPECT_EQ(e.HelpContext(), kErrReadBuffer);
  }
}

TEST_F(TransferTest, FailedOpensLeaveNoView) {
  TTransferMan t;
  ExpectLocal([&] { t.OpenRead(0, 12); }, kErrEmptyReadBuffer, "Empty read buffer. Query 12");
  ExpectLocal([&] { t.ReadAnswer(); }, kErrEmptyReadBuffer, "Empty read buffer. Query 12");
  try {
    t.OpenRead(987654, -3);
    FAIL() << "opened a buffer that does not exist";
  } catch (const ELocal& e) {
    EXPECT_EQ(e.HelpContext(), kErrReadBuffer);
    EXPECT_EQ(e.Message().rfind("Read transfer buffer failed: ", 0), 0u) << e.Message();
    EXPECT_GT(e.Message().size(), std::string("Read transfer buffer failed: ").size());
  }
  EXPECT_EQ(t.ReadId(), 0);
  ExpectLocal([&] { t.ReadInteger(1); }, kErrEmptyReadBuffer, "Empty read buffer. Query -3");
  EXPECT_EQ(TransferBufferName(17), "Vandrel_Transfer17");
}

// A well-formed request of all three kinds, as raw bytes.
Bytes ValidBuffer() {
  return Bytes{1, 0, 0, 0,                                          // answer 1
               1, 0, 4, 0, 0, 0, 42,  0, 0,   0,                    // item 1: 42
               2, 0, 8, 0, 0, 0, 0,   0, 0,   0, 0, 0, 0xF8, 0x3F,  // item 2: 1.5
               3, 0, 4, 0, 0, 0, 'h', 0, 'i', 0,                    // item 3: "hi"
               0, 0};
}

void ReadAll(TTransferReader& r) {
  r.ReadAnswer();
  r.ReadInteger(1);
  r.ReadDouble(2);
  r.ReadWideString(3);
}

TEST_F(TransferTest, CheckedReaderRejectsEveryDamageAsAWrongReadId) {
  const Bytes valid = ValidBuffer();
  {
    TTransferReader r(valid.data(), valid.size(), 1);
    EXPECT_EQ(r.ReadAnswer(), 1);
    EXPECT_EQ(r.ReadInteger(1), 42);
    EXPECT_EQ(r.ReadDouble(2), 1.5);
    EXPECT_EQ(r.ReadWideString(3), u"hi");
    EXPECT_EQ(r.Position(), valid.size() - 2);
  }
  // Every truncation fails somewhere, always with code 5 and the query id,
  // and never reads outside the bytes (the sanitizers watch).
  for (std::size_t size = 0; size + 2 < valid.size(); ++size) {
    Bytes cut(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(size));
    TTransferReader r(cut.data(), cut.size(), 0x2B20);
    ExpectLocal([&] { ReadAll(r); }, kErrWrongReadId, "Wrong read ID. Query 11040");
  }
  struct Damage {
    const char* what;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
  };
  const Damage damages[] = {
      {"integer length 2", 6, {2, 0, 0, 0}},
      {"integer length 5", 6, {5, 0, 0, 0}},
      {"integer length past the end", 6, {0xF0, 0xFF, 0xFF, 0xFF}},
      {"double length 4", 16, {4, 0, 0, 0}},
      {"odd string length", 30, {3, 0, 0, 0}},
      {"string length past the end", 30, {8, 0, 0, 0}},
      {"string length 2^32-2", 30, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"wrong id", 28, {4, 0}},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    Bytes bad = valid;
    std::memcpy(bad.data() + d.offset, d.bytes.data(), d.bytes.size());
    TTransferReader r(bad.data(), bad.size(), -11040);
    ExpectLocal([&] { ReadAll(r); }, kErrWrongReadId, "Wrong read ID. Query -11040");
  }
  // A failed read leaves the cursor on the item it could not read.
  Bytes bad = valid;
  bad[6] = 2;
  TTransferReader r(bad.data(), bad.size(), 9);
  EXPECT_THROW(r.ReadInteger(1), ELocal);
  EXPECT_EQ(r.Position(), 4u);
  TTransferReader none;
  EXPECT_THROW(none.ReadAnswer(), ELocal);
}

TEST_F(TransferTest, RetiredChannelStaysReadableUntilReleased) {
  auto t = std::make_unique<TTransferMan>();
  t->SetAnswer(kAnswerDone);
  t->ResetWrite();
  t->WriteInteger(1, 5);
  const std::int32_t number = t->BufferId();
  RetireTransfer(std::move(t));
  TTransferMan reader;
  reader.OpenRead(number, 1);
  EXPECT_EQ(reader.ReadInteger(1), 5);
  reader.CloseRead();
  // Once the cap's worth of channels were retired after it, it is gone
  // however fast that went; the newest few are always kept.
  for (std::size_t i = 0; i < kRetiredMax; ++i) RetireTransfer(std::make_unique<TTransferMan>());
  EXPECT_LE(RetiredTransferCount(), kRetiredMax);
  EXPECT_GE(RetiredTransferCount(), kRetiredKeep);
  EXPECT_THROW(reader.OpenRead(number, 1), ELocal);
  FreeRetiredTransfers();
  EXPECT_EQ(RetiredTransferCount(), 0u);
}

TEST_F(TransferTest, ProcessesGrowingAtOnceAreNeverHandedTheSameNumber) {
  constexpr int kEach = 300;
  test::ScratchDir scratch;
  std::vector<win::DWORD> pids;
  for (int p = 0; p < 2; ++p) {
    pids.push_back(
        win::StartChildProcess({test::BinDir() + "/linkpeer", "numbers", std::to_string(kEach),
                                scratch.path() + "/n" + std::to_string(p)},
                               ""));
    ASSERT_NE(pids.back(), 0u);
  }
  std::set<std::int32_t> numbers;
  TTransferMan mine;
  numbers.insert(mine.BufferId());
  for (int i = 0; i < kEach; ++i) {
    mine.Grow(mine.BufferSize() + 1);
    EXPECT_TRUE(numbers.insert(mine.BufferId()).second);
  }
  for (std::size_t p = 0; p < pids.size(); ++p) {
    int code = -1;
    ASSERT_TRUE(win::WaitChildProcess(pids[p], 60000, &code));
    ASSERT_EQ(code, 0);
    std::ifstream in(scratch.path() + "/n" + std::to_string(p));
    int read = 0;
    for (std::int32_t n; in >> n; ++read) EXPECT_TRUE(numbers.insert(n).second) << n;
    EXPECT_EQ(read, kEach + 1);
  }
  // Every number from 1 up was handed out exactly once.
  EXPECT_EQ(numbers.size(), 3u * kEach + 3u);
  EXPECT_EQ(*numbers.begin(), 1);
  EXPECT_EQ(*numbers.rbegin(), static_cast<std::int32_t>(numbers.size()));
}

TEST_F(TransferTest, QueryWithoutPeerSendsNothing) {
  TLinkObject link(nullptr);
  link.Transfer().ResetWrite();
  link.Transfer().WriteInteger(1, 1);
  EXPECT_NO_THROW(link.Query(0x2B20));
  EXPECT_EQ(link.Transfer().ReadId(), 0);
}

TEST(ErrorText, EightBitTextIsUtf8OnTheWay) {
  EXPECT_EQ(ErrorTextToWide("ascii"), u"ascii");
  EXPECT_EQ(ErrorTextToWide("\xC3\xBC \xE2\x82\xAC \xF0\x9F\x93\x96"), u"\u00FC \u20AC \U0001F4D6");
  EXPECT_EQ(ErrorTextFromWide(u"\u00FC \u20AC \U0001F4D6"),
            "\xC3\xBC \xE2\x82\xAC \xF0\x9F\x93\x96");
  // Damaged input never fails: each bad byte or lone surrogate is U+FFFD.
  EXPECT_EQ(ErrorTextToWide("a\xFF"
                            "b\xC3"),
            u"a\uFFFDb\uFFFD");
  EXPECT_EQ(ErrorTextToWide("\xE0\x80\x80"), u"\uFFFD\uFFFD\uFFFD") << "overlong form";
  EXPECT_EQ(ErrorTextToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD") << "encoded surrogate";
  EXPECT_EQ(ErrorTextFromWide(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(ErrorCodeOf(ELocal("x", 142)), 142);
  EXPECT_EQ(ErrorCodeOf(Exception("x", 77)), 1) << "only an ELocal carries its code";
}

}  // namespace
}  // namespace vandrel
