// CREATE TABLE parser.
#include "sql/create_table_parser.h"

#include <string>

#include "engine/languages.h"
#include "sql/sql_error.h"

namespace vandrel::sql {
namespace {

using engine::FieldDef;
using engine::IndexDef;
using engine::TableDef;

std::string Cut(std::string s, std::size_t max) {
  if (s.size() > max) s.resize(max);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool IsName(const Token& t) {
  return t.kind == kTokenIdentifier || t.kind == kTokenBracketed || t.kind == kTokenQuoted;
}

// A token that can stand for a text value (descriptions, languages,
// passwords): anything but the end and single characters.
bool IsText(const Token& t) { return t.kind >= kTokenIdentifier && t.kind <= kTokenNumber; }

class Parser {
 public:
  explicit Parser(Tokenizer& tokens) : t_(tokens) {}

  TableDef Parse();

 private:
  const Token& Cur() { return t_.Current(); }
  void Next() { t_.Advance(); }
  bool AtKeyword(std::string_view k) { return Cur().Is(k); }

  // "<message>'<token>'": the statement-level form.
  [[noreturn]] void Expected(const std::string& message) {
    RaiseSqlError(message + ", instead found '" + Cur().text + "'");
  }
  // "<message>'<token>' in <context>": the data-type form.
  [[noreturn]] void TypeExpected(const std::string& message) {
    RaiseSqlError(message + ", instead found '" + Cur().text + "' in " + t_.Context());
  }
  // "<message> in <table>": the type-check form.
  [[noreturn]] void Check(const std::string& message) {
    RaiseSqlError(message + " in " + def_.name);
  }

  void ExpectKeyword(std::string_view k, const std::string& message) {
    if (!AtKeyword(k)) Expected(message);
    Next();
  }
  void ExpectChar(char c, const std::string& message) {
    if (!Cur().IsChar(c)) Expected(message);
    Next();
  }
  void ExpectTypeChar(char c, const std::string& message) {
    if (!Cur().IsChar(c)) TypeExpected(message);
    Next();
  }
  std::string ReadText(const std::string& keyword) {
    if (!IsText(Cur())) Expected("Text expected after " + keyword + " keyword");
    std::string s = Cur().text;
    Next();
    return s;
  }

  bool AtColumnListStop();
  bool AtPrimaryKeyClause();
  void ParseColumn();
  void ParseType(FieldDef& f);
  std::string ReadCheckValue(const std::string& keyword);
  void ParsePrimaryKey();
  void ParseOptions();
  std::uint16_t ReadUserVersion();

  Tokenizer& t_;
  TableDef def_;
};

bool Parser::AtColumnListStop() {
  static constexpr std::string_view kStops[] = {
      "CONSTRAINT", "PRIMARY",     "UNIQUE", "ASC",      "ASCENDING", "DESC", "DESCENDING",
      "NOCASE",     "DESCRIPTION", "BLOB",   "LANGUAGE", "ENCRYPTED", "USER"};
  for (std::string_view k : kStops) {
    if (AtKeyword(k)) return true;
  }
  return Cur().IsChar(')');
}

bool Parser::AtPrimaryKeyClause() {
  static constexpr std::string_view kStarts[] = {"CONSTRAINT", "PRIMARY", "UNIQUE",     "ASC",
                                                 "ASCENDING",  "DESC",    "DESCENDING", "NOCASE"};
  for (std::string_view k : kStarts) {
    if (AtKeyword(k)) return true;
  }
  return false;
}

TableDef Parser::Parse() {
  ExpectKeyword("TABLE", "TABLE or INDEX keyword expected after CREATE keyword");
  if (!(Cur().kind == kTokenIdentifier || Cur().kind == kTokenQuoted)) {
    Expected("Table name expected after CREATE TABLE keywords");
  }
  if (AtKeyword("MEMORY")) {
    def_.in_memory = true;
    Next();
    if (!(Cur().kind == kTokenIdentifier || Cur().kind == kTokenQuoted)) {
      Expected("Table name expected");
    }
  }
  def_.name = Cur().text;
  Next();
  ExpectChar('(', "Left parentheses expected before list of table columns");

  t_.SetContext("table column");
  while (!AtColumnListStop()) {
    ParseColumn();
    if (!Cur().IsChar(',')) break;
    Next();
  }

  if (AtPrimaryKeyClause()) ParsePrimaryKey();
  if (def_.indexes.empty()) def_.indexes.emplace_back();  // no primary key

  ParseOptions();
  ExpectChar(')', "Right parentheses expected after CREATE TABLE statement");
  if (!(Cur().IsChar(';') || Cur().kind == kTokenEnd)) {
    Expected("End of CREATE TABLE statement expected");
  }
  return std::move(def_);
}

void Parser::ParseColumn() {
  FieldDef f;
  if (!IsName(Cur()) || Cur().text.empty()) RaiseSqlError("Table column name is empty");
  f.number = static_cast<std::uint16_t>(def_.fields.size() + 1);
  f.name = Cut(Cur().text, engine::kMaxFieldName);
  Next();
  ParseType(f);
  if (!Cur().IsChar(',')) {
    if (AtKeyword("DESCRIPTION")) {
      Next();
      f.description = Cut(ReadText("DESCRIPTION"), engine::kMaxDescription);
    }
    if (AtKeyword("NOT")) {
      Next();
      ExpectKeyword("NULL", "NULL keyword expected after NOT keyword");
      f.required = 1;
    }
    if (AtKeyword("DEFAULT")) {
      Next();
      f.default_value = ReadCheckValue("DEFAULT");
    }
    if (AtKeyword("MIN") || AtKeyword("MINIMUM")) {
      Next();
      f.min_value = ReadCheckValue("MIN");
    }
    if (AtKeyword("MAX") || AtKeyword("MAXIMUM")) {
      Next();
      f.max_value = ReadCheckValue("MAX");
    }
    if (AtKeyword("CHARCASE")) {
      Next();
      if (AtKeyword("UPPER")) {
        f.char_case = engine::kCaseUpper;
      } else if (AtKeyword("LOWER")) {
        f.char_case = engine::kCaseLower;
      } else if (AtKeyword("NOCHANGE")) {
        f.char_case = engine::kCaseNoChange;
      } else {
        Expected("UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword");
      }
      Next();
    }
  }
  def_.fields.push_back(std::move(f));
}

// One identifier, text, character constant, integer or number, optionally
// after a sign; kept as text, cut to 50 characters.
std::string Parser::ReadCheckValue(const std::string& keyword) {
  std::string sign;
  if (Cur().IsChar('-') || Cur().IsChar('+')) {
    sign = Cur().text;
    Next();
  }
  const int k = Cur().kind;
  if (!(k == kTokenIdentifier || k == kTokenQuoted || k == kTokenCharacter || k == kTokenInteger ||
        k == kTokenNumber)) {
    Expected("Value expected after " + keyword + " keyword");
  }
  std::string v = sign + Cur().text;
  Next();
  return Cut(std::move(v), engine::kMaxCheckText);
}

void Parser::ParseType(FieldDef& f) {
  const Token type = Cur();
  auto simple = [&](std::uint8_t code, std::uint8_t subtype) {
    f.type = code;
    f.subtype = subtype;
    Next();
  };
  if (type.Is("SMALLINT")) return simple(engine::kFieldSmallInt, 0);
  if (type.Is("WORD")) return simple(engine::kFieldWord, 0);
  if (type.Is("INTEGER")) return simple(engine::kFieldInteger, 0);
  if (type.Is("AUTOINC")) return simple(engine::kFieldInteger, engine::kSubtypeAutoInc);
  if (type.Is("MONEY")) return simple(engine::kFieldFloat, engine::kSubtypeMoney);
  if (type.Is("DATE")) return simple(engine::kFieldDate, 0);
  if (type.Is("TIME")) return simple(engine::kFieldTime, 0);
  if (type.Is("TIMESTAMP")) return simple(engine::kFieldTimestamp, 0);
  if (type.Is("BOOLEAN")) return simple(engine::kFieldBoolean, 0);

  if (type.Is("CHARACTER") || type.Is("CHAR") || type.Is("VARCHAR") || type.Is("BYTES")) {
    const bool bytes = type.Is("BYTES");
    const std::string what = type.Is("VARCHAR") ? "VARCHAR" : "CHARACTER or CHAR";
    f.type = bytes ? engine::kFieldBytes : engine::kFieldString;
    Next();
    if (bytes && !Cur().IsChar('(')) {
      f.size = 10;
      return;
    }
    ExpectTypeChar('(', "Left parentheses expected after " + what + " data type");
    const Token arg = Cur();
    Next();
    ExpectTypeChar(')', "Right parentheses expected after " +
                            std::string(bytes ? "CHARACTER" : what) + " data type arguments");
    if (arg.kind != kTokenInteger) Check("Length argument must be an integer");
    const std::uint64_t n = arg.IntegerValue();
    if (n < 1 || n > 250) {
      Check("Length argument must be an integer greater than 0 and less than or equal to 250");
    }
    f.size = static_cast<std::uint16_t>(n);
    return;
  }

  if (type.Is("DECIMAL") || type.Is("NUMERIC") || type.Is("FLOAT")) {
    const bool bcd = type.Is("DECIMAL");
    const std::string what = bcd ? "DECIMAL" : type.Is("NUMERIC") ? "NUMERIC" : "FLOAT";
    f.type = bcd ? engine::kFieldBcd : engine::kFieldFloat;
    Next();
    if (!Cur().IsChar('(')) return;
    Next();
    const Token precision = Cur();
    Next();
    Token scale;
    bool has_scale = false;
    if (Cur().IsChar(',')) {
      Next();
      scale = Cur();
      has_scale = true;
      Next();
      ExpectTypeChar(')', "Right parentheses expected after " + what + " data type arguments");
    } else {
      ExpectTypeChar(')', "Comma expected after first " + what + " argument");
    }
    if (precision.kind != kTokenInteger) Check("Precision argument must be an integer");
    if (has_scale) {
      if (scale.kind != kTokenInteger) Check("Scale argument must be an integer");
      const std::uint64_t s = scale.IntegerValue();
      if (bcd) {
        if (s > 4) {
          Check("Scale argument must be an integer less than or equal to 4 for the BCD data type");
        }
        f.scale = static_cast<std::uint16_t>(s);
      }
    }
    return;
  }

  if (type.Is("BLOB")) {
    f.type = engine::kFieldBlob;
    Next();
    ExpectTypeChar('(', "Left parentheses expected after BLOB data type");
    const Token first = Cur();
    Next();
    ExpectTypeChar(',', "Comma expected after first BLOB argument");
    const Token second = Cur();
    Next();
    ExpectTypeChar(')', "Right parentheses expected after BLOB data type arguments");
    if (first.kind != kTokenInteger) {
      Check("First BLOB type argument must be an integer with the value of 1");
    }
    if (second.kind != kTokenInteger) Check("BLOB type argument must be an integer");
    const std::uint64_t k = second.IntegerValue();
    // Subtypes 22 to 28 (k from 1 to 7); the message keeps its old limit.
    if (k < 1 || k > 7) {
      Check("BLOB type argument must be an integer greater than 0 and less than or equal to 5");
    }
    f.subtype = static_cast<std::uint8_t>(21 + k);
    return;
  }

  Expected("SQL data type keyword expected");
}

void Parser::ParsePrimaryKey() {
  IndexDef index;
  if (AtKeyword("CONSTRAINT")) {
    Next();
    Next();  // the constraint's name is not kept
  }
  if (AtKeyword("UNIQUE")) {
    index.unique = 1;
    Next();
  }
  if (AtKeyword("ASC") || AtKeyword("ASCENDING")) {
    Next();
  } else if (AtKeyword("DESC") || AtKeyword("DESCENDING")) {
    index.descending = 1;
    Next();
  }
  if (AtKeyword("NOCASE")) {
    index.case_insensitive = 1;
    Next();
  }
  ExpectKeyword("PRIMARY", "PRIMARY keyword expected");
  ExpectKeyword("KEY", "KEY keyword expected after PRIMARY keyword");
  ExpectChar('(', "Left parentheses expected after KEY keyword");
  t_.SetContext("index column");
  for (;;) {
    if (!IsName(Cur()) || Cur().text.empty()) RaiseSqlError("Index column name is empty");
    std::uint16_t number = 0;
    for (const FieldDef& f : def_.fields) {
      if (SameName(f.name, Cur().text)) {
        number = f.number;
        break;
      }
    }
    index.fields.push_back(number);
    Next();
    if (!Cur().IsChar(',')) break;
    Next();
  }
  ExpectChar(')', "Right parentheses expected after primary key clause");
  if (AtKeyword("COMPRESS")) {
    Next();
    if (AtKeyword("FULL")) {
      index.compression = engine::kCompressFull;
    } else if (AtKeyword("DUPBYTE")) {
      index.compression = engine::kCompressDupByte;
    } else if (AtKeyword("TRAILBYTE")) {
      index.compression = engine::kCompressTrailByte;
    } else if (AtKeyword("NONE")) {
      index.compression = engine::kCompressNone;
    } else {
      Expected("FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword");
    }
    Next();
  }
  def_.indexes.push_back(std::move(index));
}

std::uint16_t Parser::ReadUserVersion() {
  if (Cur().kind != kTokenInteger) RaiseSqlError("User version number is empty");
  const std::uint64_t v = Cur().IntegerValue();
  if (v > 0xFFFF) RaiseSqlError("User version number is out of range");
  Next();
  return static_cast<std::uint16_t>(v);
}

void Parser::ParseOptions() {
  t_.SetContext("table");
  if (AtKeyword("DESCRIPTION")) {
    Next();
    def_.description = Cut(ReadText("DESCRIPTION"), engine::kMaxDescription);
  }
  if (AtKeyword("BLOB")) {
    Next();
    ExpectKeyword("BLOCK", "BLOCK keyword expected after BLOB keyword");
    ExpectKeyword("SIZE", "SIZE keyword expected after BLOCK keyword");
    if (Cur().kind != kTokenInteger) RaiseSqlError("BLOB block size is empty");
    // Never wrapped: the create operation refuses a size it cannot store.
    const std::uint64_t v = Cur().IntegerValue();
    def_.blob_block_size = v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
    Next();
  }
  if (AtKeyword("LANGUAGE")) {
    Next();
    const std::string name = IsText(Cur()) ? Cur().text : std::string();
    const auto id = engine::LanguageIdByName(name);
    if (!IsText(Cur()) || !id) {
      RaiseSqlError("Invalid language constant '" + Cur().text +
                    "' specified after LANGUAGE keyword");
    }
    def_.language = *id;
    Next();
    if (AtKeyword("SORT")) {
      Next();
      const auto sort = IsText(Cur()) ? engine::SortIdByName(*id, Cur().text) : std::nullopt;
      if (!sort) {
        RaiseSqlError("Invalid sort constant '" + Cur().text + "' specified after SORT keyword");
      }
      def_.sort = *sort;
      Next();
    }
  }
  if (AtKeyword("ENCRYPTED")) {
    Next();
    ExpectKeyword("WITH", "WITH keyword expected after ENCRYPTED keyword");
    def_.password = Cut(ReadText("WITH"), engine::kMaxPassword);
    def_.encrypted = !def_.password.empty();
  }
  if (AtKeyword("USER")) {
    Next();
    ExpectKeyword("MAJOR", "MAJOR keyword expected after USER keyword");
    ExpectKeyword("VERSION", "VERSION keyword expected after MAJOR keyword");
    def_.user_major = ReadUserVersion();
  }
  if (AtKeyword("USER")) {
    Next();
    ExpectKeyword("MINOR", "MINOR keyword expected after USER keyword");
    ExpectKeyword("VERSION", "VERSION keyword expected after MINOR keyword");
    def_.user_minor = ReadUserVersion();
  }
}

}  // namespace

engine::TableDef ParseCreateTableBody(Tokenizer& tokens) { return Parser(tokens).Parse(); }

engine::TableDef ParseCreateTable(std::string_view text) {
  Tokenizer tokens(text);
  if (!tokens.Current().Is("CREATE")) {
    RaiseSqlError("CREATE keyword expected, instead found '" + tokens.Current().text + "'");
  }
  tokens.Advance();
  return ParseCreateTableBody(tokens);
}

}  // namespace vandrel::sql
