// Message identifiers, item ids and error codes of the dictionary object
// model: the base manager (BM_), base sets (BS_), bases (BA_) and cursors
// (CR_). The service's object model (model/) answers them and the client
// objects (client/) send them. These numbers travel between processes and
// must never change: clients built against them rely on every value.
#pragma once

#include <cstdint>

namespace vandrel {

// Base manager requests.
constexpr std::uint16_t BM_NEW_BASE_SET = 0x2C29;   // -> item 1: base set handle
constexpr std::uint16_t BM_FREE_BASE_SET = 0x2C2A;  // item 1: base set handle

// Base set requests.
constexpr std::uint16_t BS_LIST_FILES = 0x2C51;        // -> 102 count, N x 104 file name
constexpr std::uint16_t BS_NEW_CURSOR = 0x2C52;        // -> item 1: cursor handle
constexpr std::uint16_t BS_FREE_CURSOR = 0x2C53;       // item 1: cursor handle
constexpr std::uint16_t BS_OPEN_BASE = 0x2C54;         // 104 file name -> item 1: base handle
constexpr std::uint16_t BS_CLOSE_BASE = 0x2C55;        // item 1: base handle
constexpr std::uint16_t BS_CREATE_BASE_FILE = 0x2C56;  // 104, 110, 111, 124, 125
constexpr std::uint16_t BS_DELETE_BASE_FILE = 0x2C57;  // 104 file name

// Cursor requests.
constexpr std::uint16_t CR_FIRST = 0x2C79;         // -> 101 result
constexpr std::uint16_t CR_LAST = 0x2C7A;          // -> 101 result
constexpr std::uint16_t CR_PRIOR = 0x2C7B;         // -> 101 result
constexpr std::uint16_t CR_NEXT = 0x2C7C;          // -> 101 result
constexpr std::uint16_t CR_LOCATE = 0x2C7D;        // 116 text, 123 wide flag -> 101 result
constexpr std::uint16_t CR_FIND = 0x2C7E;          // 116 text, 123 wide flag -> 101 result
constexpr std::uint16_t CR_GET_POSITION = 0x2C7F;  // -> 101 position
constexpr std::uint16_t CR_ASSIGN = 0x2C80;        // item 1: another cursor's handle
constexpr std::uint16_t CR_UNUSED = 0x2C81;        // never handled (answer code 3)
constexpr std::uint16_t CR_GET_TRANS = 0x2C82;     // item 1: base handle -> 117 translation
// Words of a base set matching a strategy: items 130, 116, 131 -> 102 count,
// then per word 116, 102 count, N x 1 base (model/cursor_match.h).
constexpr std::uint16_t CR_MATCH = 0x2C8A;
// CR_LOOKUP = 0x2C8B: a locate with the translations of the word found;
// CR_PAGE = 0x2C8C: the next N words with their bases (protocol/page_ids.h).
// A plain window message inside the service (outside the request range):
// a cursor answers it with a reference to itself.
constexpr std::uint16_t CR_GET_OBJECT = 0x04C9;

// Base requests.
constexpr std::uint16_t BA_GET_NAME = 0x2CA2;            // -> 106
constexpr std::uint16_t BA_SET_NAME = 0x2CA3;            // 106
constexpr std::uint16_t BA_GET_SHORT_NAME = 0x2CA4;      // -> 107
constexpr std::uint16_t BA_SET_SHORT_NAME = 0x2CA5;      // 107
constexpr std::uint16_t BA_GET_DESCRIPTION = 0x2CA6;     // -> 108
constexpr std::uint16_t BA_SET_DESCRIPTION = 0x2CA7;     // 108
constexpr std::uint16_t BA_GET_VERSION = 0x2CA8;         // -> 109
constexpr std::uint16_t BA_GET_LANGUAGE = 0x2CA9;        // -> 110
constexpr std::uint16_t BA_SET_LANGUAGE = 0x2CAA;        // nothing read, nothing done
constexpr std::uint16_t BA_GET_TRANS_LANGUAGE = 0x2CAB;  // -> 111
constexpr std::uint16_t BA_SET_TRANS_LANGUAGE = 0x2CAC;  // nothing read, nothing done
constexpr std::uint16_t BA_GET_FIRST_CHARS = 0x2CAD;     // -> 112
constexpr std::uint16_t BA_GET_LANG_CHARS = 0x2CAE;      // -> 113
constexpr std::uint16_t BA_GET_FILE_NAME = 0x2CAF;       // -> 119
constexpr std::uint16_t BA_BEGIN_PARAMS = 0x2CB0;
constexpr std::uint16_t BA_END_PARAMS = 0x2CB1;
constexpr std::uint16_t BA_PARAMS = 0x2CB2;           // base to client only
constexpr std::uint16_t BA_PARAMS_CHANGED = 0x2CB3;   // base to client only
constexpr std::uint16_t BA_GET_CREATE_TIME = 0x2CB4;  // -> 122
constexpr std::uint16_t BA_PUT_WORD = 0x2CB5;         // 116 word, 117 translation
constexpr std::uint16_t BA_PUT_WORD_ALT = 0x2CB6;     // the same request, second id
constexpr std::uint16_t BA_DELETE_WORD = 0x2CB7;      // 116 word
constexpr std::uint16_t BA_PROGRESS = 0x2CBA;         // base to client: 126, 127 -> 101

// Item ids.
constexpr std::uint16_t kItemHandle = 1;           // integer: an object's window
constexpr std::uint16_t kItemResult = 101;         // integer: result / position / stop flag
constexpr std::uint16_t kItemCount = 102;          // integer: number of entries that follow
constexpr std::uint16_t kItemFileName = 104;       // wide string: a file inside the folder
constexpr std::uint16_t kItemName = 106;           // wide string
constexpr std::uint16_t kItemShortName = 107;      // wide string
constexpr std::uint16_t kItemDescription = 108;    // wide string
constexpr std::uint16_t kItemVersion = 109;        // integer
constexpr std::uint16_t kItemLanguage = 110;       // integer
constexpr std::uint16_t kItemTransLanguage = 111;  // integer
constexpr std::uint16_t kItemFirstChars = 112;     // wide string
constexpr std::uint16_t kItemLangChars = 113;      // wide string
constexpr std::uint16_t kItemWord = 116;           // wide string
constexpr std::uint16_t kItemTrans = 117;          // wide string
constexpr std::uint16_t kItemPosition = 118;       // integer
constexpr std::uint16_t kItemBaseFileName = 119;   // wide string: a base's file, no folder
constexpr std::uint16_t kItemIsLast = 120;         // integer 0 or 1
constexpr std::uint16_t kItemRecordCount = 121;    // integer
constexpr std::uint16_t kItemCreateTime = 122;     // double
constexpr std::uint16_t kItemWideFlag = 123;       // integer, low byte counts
constexpr std::uint16_t kItemScrambled = 124;      // integer, low byte counts
constexpr std::uint16_t kItemCompressed = 125;     // integer, low byte counts
constexpr std::uint16_t kItemProgressPos = 126;    // integer
constexpr std::uint16_t kItemProgressTotal = 127;  // integer
// After item 101 of a cursor move (CR_FIRST ... CR_FIND), once for each
// base whose file failed during the move and was passed over: 128 = the
// base's window, 129 = "<file>: damaged (<place>)". Clients that read only
// item 101 never see them.
constexpr std::uint16_t kItemSkippedBase = 128;  // integer
constexpr std::uint16_t kItemSkippedWhy = 129;   // wide string
constexpr std::uint16_t kItemStrategy = 130;     // wide string: CR_MATCH strategy name
constexpr std::uint16_t kItemLimit = 131;        // integer: CR_MATCH limit

// The highest limit CR_MATCH accepts.
constexpr std::int32_t kMaxMatchLimit = 100000;

// Error codes of the object model (item 3 of an error answer).
constexpr int kErrUnknownBaseSet = 141;     // "Unknown BaseSet"
constexpr int kErrBaseAlreadyOpened = 181;  // "Base already opened"
constexpr int kErrUnknownCursor = 182;      // "Unknown Cursor"
constexpr int kErrUnknownBase = 183;        // "Unknown base \"%s\""
constexpr int kErrBaseInUse = 184;          // "Base \"%s\" now in use"
constexpr int kErrBaseNotExists = 185;      // "Base \"%s\" not exists"
constexpr int kErrBodyFormat =
    223;  // "Base \"%s\", title \"%s\". Error in stored body format.\r\n%s"
constexpr int kErrUnknownStrategy = 224;  // "Unknown match strategy \"%s\""
constexpr int kErrBadPattern = 225;       // "Bad match pattern: %s"
constexpr int kErrBadLimit = 226;         // "Bad match limit %d"
constexpr int kErrBaseBusy = 261;         // "Base \"%s\" now busy"
constexpr int kErrEndUpdateFailed = 262;  // "End update on \"%s\" failed"

}  // namespace vandrel
