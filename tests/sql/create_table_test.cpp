// CREATE TABLE: the definition each statement yields, and every refusal with
// its exact message.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "engine/engine_error.h"
#include "engine/languages.h"
#include "sql/create_table_parser.h"
#include "sql/sql_statement.h"
#include "sql/sql_tokenizer.h"

namespace vandrel::sql {
namespace {

using engine::EEngineError;
using engine::FieldDef;
using engine::IndexDef;
using engine::TableDef;

const char kUpdateStatement[] =
    "CREATE TABLE Data (Word Character (50), Trans BLOB (0 , 1) PRIMARY KEY(Word) BLOB BLOCK "
    "SIZE 128 LANGUAGE \"English (USA)\" SORT \"Default order\");";

// The text of the 11949 error a statement raises ("" when it parses).
std::string ErrorOf(const std::string& statement) {
  try {
    ParseStatement(statement);
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.Code(), engine::kSqlError);
    const std::string prefix = "Engine Error # 11949 SQL error - ";
    const std::string message = e.what();
    EXPECT_EQ(message.substr(0, prefix.size()), prefix);
    return message.substr(prefix.size());
  }
  return "";
}

TableDef Columns(const std::string& columns) {
  return ParseStatement("CREATE TABLE T (" + columns + ")");
}

FieldDef Field(const std::string& column) {
  const TableDef d = Columns(column);
  EXPECT_EQ(d.fields.size(), 1u);
  return d.fields.empty() ? FieldDef{} : d.fields[0];
}

TEST(CreateTable, UpdateStatementGivesTheUpdateTable) {
  const TableDef d = ParseStatement(kUpdateStatement);
  TableDef want;
  want.name = "Data";
  FieldDef word;
  word.number = 1;
  word.name = "Word";
  word.type = engine::kFieldString;
  word.size = 50;
  FieldDef trans;
  trans.number = 2;
  trans.name = "Trans";
  trans.type = engine::kFieldBlob;
  trans.subtype = 22;
  want.fields = {word, trans};
  IndexDef primary;
  primary.fields = {1};  // ascending, case-sensitive, not unique, uncompressed
  want.indexes = {primary};
  want.blob_block_size = 128;
  want.language = 0x0409;
  want.sort = 0;
  EXPECT_EQ(d, want);
  EXPECT_FALSE(d.encrypted);
  EXPECT_EQ(d.user_major, 1);
  EXPECT_EQ(d.user_minor, 0);
}

TEST(CreateTable, KeywordsAndNamesInAnyCase) {
  const TableDef d = ParseStatement(
      "create table data (word character (50), trans blob (0 , 1) primary key(WORD) blob block "
      "size 128 language \"english (usa)\" sort \"default order\")");
  EXPECT_EQ(d.name, "data");
  ASSERT_EQ(d.indexes.size(), 1u);
  EXPECT_EQ(d.indexes[0].fields, std::vector<std::uint16_t>{1});
  EXPECT_EQ(d.language, 0x0409);
  EXPECT_EQ(ParseStatement("CrEaTe TaBlE x (a InTeGeR)").fields[0].type, engine::kFieldInteger);
}

TEST(CreateTable, DataTypes) {
  struct Case {
    const char* column;
    std::uint8_t type, subtype;
    std::uint16_t size, scale;
  } cases[] = {
      {"a SMALLINT", 5, 0, 0, 0},       {"a WORD", 12, 0, 0, 0},
      {"a INTEGER", 6, 0, 0, 0},        {"a AUTOINC", 6, 29, 0, 0},
      {"a DECIMAL", 8, 0, 0, 0},        {"a DECIMAL(10)", 8, 0, 0, 0},
      {"a DECIMAL(10, 4)", 8, 0, 0, 4}, {"a NUMERIC(10,5)", 7, 0, 0, 0},
      {"a FLOAT(10, 5)", 7, 0, 0, 0},   {"a FLOAT", 7, 0, 0, 0},
      {"a MONEY", 7, 21, 0, 0},         {"a CHARACTER(1)", 1, 0, 1, 0},
      {"a CHAR(250)", 1, 0, 250, 0},    {"a VARCHAR(7)", 1, 0, 7, 0},
      {"a DATE", 2, 0, 0, 0},           {"a TIME", 10, 0, 0, 0},
      {"a TIMESTAMP", 11, 0, 0, 0},     {"a BOOLEAN", 4, 0, 0, 0},
      {"a BYTES", 9, 0, 10, 0},         {"a BYTES(250)", 9, 0, 250, 0},
      {"a BLOB(0, 1)", 3, 22, 0, 0},    {"a BLOB(1, 7)", 3, 28, 0, 0},
      {"a BLOB(99, 5)", 3, 26, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    const FieldDef f = Field(c.column);
    EXPECT_EQ(f.type, c.type);
    EXPECT_EQ(f.subtype, c.subtype);
    EXPECT_EQ(f.size, c.size);
    EXPECT_EQ(f.scale, c.scale);
  }
}

TEST(CreateTable, TypeChecksNameTheTable) {
  const std::string len =
      "Length argument must be an integer greater than 0 and less than or "
      "equal to 250 in T";
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a CHAR(0))"), len);
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a CHAR(251))"), len);
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a VARCHAR(251))"), len);
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a BYTES(251))"), len);
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a BYTES(0))"), len);
  // Lengths never wrap into 16 bits: 65586 is not 50.
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a CHAR(65586))"), len);
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a CHAR(99999999999999999999999999))"), len);
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a CHAR(5.0))"), "Length argument must be an integer in T");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a CHAR(x))"), "Length argument must be an integer in T");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a BYTES('5'))"), "Length argument must be an integer in T");

  EXPECT_EQ(ErrorOf("CREATE TABLE T (a DECIMAL(10, 5))"),
            "Scale argument must be an integer less than or equal to 4 for the BCD data type in T");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a DECIMAL(10, 65540))"),
            "Scale argument must be an integer less than or equal to 4 for the BCD data type in T");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a NUMERIC(10, 1.5))"),
            "Scale argument must be an integer in T");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a FLOAT(x))"), "Precision argument must be an integer in T");

  const std::string k =
      "BLOB type argument must be an integer greater than 0 and less than or "
      "equal to 5 in T";
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a BLOB(0, 8))"), k);
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a BLOB(0, 0))"), k);
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a BLOB(0, 4294967297))"), k);  // not 1 in 32 bits
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a BLOB(x, 1))"),
            "First BLOB type argument must be an integer with the value of 1 in T");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a BLOB(0, 1.0))"),
            "BLOB type argument must be an integer in T");
}

TEST(CreateTable, DataTypeMessagesNameTheContext) {
  struct Case {
    const char* column;
    const char* message;
  } cases[] = {
      {"a CHAR 5",
       "Left parentheses expected after CHARACTER or CHAR data type, instead found '5'"},
      {"a CHARACTER(5",
       "Right parentheses expected after CHARACTER or CHAR data type arguments, "
       "instead found ''"},
      {"a VARCHAR", "Left parentheses expected after VARCHAR data type, instead found ''"},
      {"a VARCHAR(5,",
       "Right parentheses expected after VARCHAR data type arguments, instead "
       "found ','"},
      {"a DECIMAL(5;", "Comma expected after first DECIMAL argument, instead found ';'"},
      {"a DECIMAL(5,2,",
       "Right parentheses expected after DECIMAL data type arguments, instead "
       "found ','"},
      {"a NUMERIC(5 2)", "Comma expected after first NUMERIC argument, instead found '2'"},
      {"a NUMERIC(5,2 3)",
       "Right parentheses expected after NUMERIC data type arguments, "
       "instead found '3'"},
      {"a FLOAT(5 2)", "Comma expected after first FLOAT argument, instead found '2'"},
      {"a FLOAT(5,2 3)",
       "Right parentheses expected after FLOAT data type arguments, instead "
       "found '3'"},
      {"a BYTES(5 6)",
       "Right parentheses expected after CHARACTER data type arguments, instead "
       "found '6'"},
      {"a BLOB 0", "Left parentheses expected after BLOB data type, instead found '0'"},
      {"a BLOB(0 1)", "Comma expected after first BLOB argument, instead found '1'"},
      {"a BLOB(0, 1",
       "Right parentheses expected after BLOB data type arguments, instead found ''"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    EXPECT_EQ(ErrorOf(std::string("CREATE TABLE T (") + c.column),
              std::string(c.message) + " in table column");
  }
}

TEST(CreateTable, StatementMessages) {
  struct Case {
    const char* statement;
    const char* message;
  } cases[] = {
      {"CREATE TABLE (a INTEGER)",
       "Table name expected after CREATE TABLE keywords, instead found '('"},
      {"CREATE TABLE [T] (a INTEGER)",
       "Table name expected after CREATE TABLE keywords, instead found 'T'"},
      {"CREATE TABLE MEMORY 5 (a INTEGER)", "Table name expected, instead found '5'"},
      {"CREATE TABLE T a INTEGER",
       "Left parentheses expected before list of table columns, instead found 'a'"},
      {"CREATE TABLE T (, a INTEGER)", "Table column name is empty"},
      {"CREATE TABLE T ('' INTEGER)", "Table column name is empty"},
      {"CREATE TABLE T (a STRING)", "SQL data type keyword expected, instead found 'STRING'"},
      {"CREATE TABLE T (a INTEGER NOT 5)",
       "NULL keyword expected after NOT keyword, instead found '5'"},
      {"CREATE TABLE T (a CHAR(5) CHARCASE TITLE)",
       "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found 'TITLE'"},
      {"CREATE TABLE T (a INTEGER CONSTRAINT pk KEY (a))",
       "PRIMARY keyword expected, instead found 'KEY'"},
      {"CREATE TABLE T (a INTEGER PRIMARY (a))",
       "KEY keyword expected after PRIMARY keyword, instead found '('"},
      {"CREATE TABLE T (a INTEGER PRIMARY KEY a)",
       "Left parentheses expected after KEY keyword, instead found 'a'"},
      {"CREATE TABLE T (a INTEGER PRIMARY KEY ())", "Index column name is empty"},
      {"CREATE TABLE T (a INTEGER PRIMARY KEY (a b))",
       "Right parentheses expected after primary key clause, instead found 'b'"},
      {"CREATE TABLE T (a INTEGER PRIMARY KEY (a) COMPRESS ALL)",
       "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead "
       "found 'ALL'"},
      {"CREATE TABLE T (a INTEGER BLOB SIZE 128)",
       "BLOCK keyword expected after BLOB keyword, instead found 'SIZE'"},
      {"CREATE TABLE T (a INTEGER BLOB BLOCK 128)",
       "SIZE keyword expected after BLOCK keyword, instead found '128'"},
      {"CREATE TABLE T (a INTEGER BLOB BLOCK SIZE)", "BLOB block size is empty"},
      {"CREATE TABLE T (a INTEGER BLOB BLOCK SIZE 1.5)", "BLOB block size is empty"},
      {"CREATE TABLE T (a INTEGER LANGUAGE 'Klingon')",
       "Invalid language constant 'Klingon' specified after LANGUAGE keyword"},
      {"CREATE TABLE T (a INTEGER LANGUAGE 'English (USA)' SORT 'German Phone Book Order')",
       "Invalid sort constant 'German Phone Book Order' specified after SORT keyword"},
      {"CREATE TABLE T (a INTEGER ENCRYPTED 'x')",
       "WITH keyword expected after ENCRYPTED keyword, instead found 'x'"},
      {"CREATE TABLE T (a INTEGER USER VERSION 2)",
       "MAJOR keyword expected after USER keyword, instead found 'VERSION'"},
      {"CREATE TABLE T (a INTEGER USER MAJOR 2)",
       "VERSION keyword expected after MAJOR keyword, instead found '2'"},
      {"CREATE TABLE T (a INTEGER USER MAJOR VERSION)", "User version number is empty"},
      {"CREATE TABLE T (a INTEGER USER MAJOR VERSION 2 USER VERSION 3)",
       "MINOR keyword expected after USER keyword, instead found 'VERSION'"},
      {"CREATE TABLE T (a INTEGER USER MAJOR VERSION 2 USER MINOR 3)",
       "VERSION keyword expected after MINOR keyword, instead found '3'"},
      {"CREATE TABLE T (a INTEGER USER MAJOR VERSION 2 USER MINOR VERSION 'x')",
       "User version number is empty"},
      {"CREATE TABLE T (a INTEGER USER MAJOR VERSION 65536)",
       "User version number is out of range"},
      {"CREATE TABLE T (a INTEGER",
       "Right parentheses expected after CREATE TABLE statement, "
       "instead found ''"},
      {"CREATE TABLE T (a INTEGER) x", "End of CREATE TABLE statement expected, instead found 'x'"},
      {"CREATE VIEW T (a INTEGER)",
       "TABLE or INDEX keyword expected after CREATE keyword, instead found 'VIEW'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(ErrorOf(c.statement), c.message);
  }
}

TEST(CreateTable, OtherStatementsAreNotSupported) {
  EXPECT_EQ(ErrorOf("SELECT * FROM Data"), "SELECT statement not supported");
  EXPECT_EQ(ErrorOf("insert into Data values (1)"), "INSERT statement not supported");
  EXPECT_EQ(ErrorOf("UPDATE Data SET a = 1"), "UPDATE statement not supported");
  EXPECT_EQ(ErrorOf("DELETE FROM Data"), "DELETE statement not supported");
  EXPECT_EQ(ErrorOf("ALTER TABLE Data"), "ALTER statement not supported");
  EXPECT_EQ(ErrorOf("drop table Data"), "DROP statement not supported");
  EXPECT_EQ(ErrorOf("CREATE INDEX i ON Data (Word)"), "CREATE INDEX statement not supported");
  EXPECT_EQ(ErrorOf("VACUUM"),
            "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword "
            "expected, instead found 'VACUUM'");
  EXPECT_EQ(ErrorOf(""),
            "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword "
            "expected, instead found ''");
}

TEST(CreateTable, OptionsInTheirOrderOnly) {
  const TableDef d = ParseStatement(
      "CREATE TABLE T (a INTEGER PRIMARY KEY (a) DESCRIPTION 'the table' BLOB BLOCK SIZE 512 "
      "LANGUAGE "
      "'German (Austrian)' SORT 'german phone book order' ENCRYPTED WITH 'secret' USER MAJOR "
      "VERSION 3 USER MINOR VERSION 65535)");
  EXPECT_EQ(d.description, "the table");
  EXPECT_EQ(d.blob_block_size, 512u);
  EXPECT_EQ(d.language, 0x0C07);
  EXPECT_EQ(d.sort, 0);
  EXPECT_TRUE(d.encrypted);
  EXPECT_EQ(d.password, "secret");
  EXPECT_EQ(d.user_major, 3);
  EXPECT_EQ(d.user_minor, 65535);
  // Defaults.
  const TableDef plain = ParseStatement("CREATE TABLE T (a INTEGER)");
  EXPECT_EQ(plain.blob_block_size, 64u);
  EXPECT_EQ(plain.language, 0);
  EXPECT_EQ(plain.user_major, 1);
  EXPECT_FALSE(plain.in_memory);
  // LANGUAGE before BLOB BLOCK SIZE: the options end and ")" is missing.
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER LANGUAGE 'Greek' BLOB BLOCK SIZE 128)"),
            "Right parentheses expected after CREATE TABLE statement, instead found 'BLOB'");
  // An empty password leaves the table unencrypted.
  EXPECT_FALSE(ParseStatement("CREATE TABLE T (a INTEGER ENCRYPTED WITH '')").encrypted);
  // A block size too large for 16 bits reaches the engine unwrapped.
  EXPECT_EQ(ParseStatement("CREATE TABLE T (a BLOB(0,1) BLOB BLOCK SIZE 65600)").blob_block_size,
            65600u);
  EXPECT_EQ(ParseStatement("CREATE TABLE T (a BLOB(0,1) BLOB BLOCK SIZE 99999999999999999999)")
                .blob_block_size,
            0xFFFFFFFFu);
  EXPECT_TRUE(ParseStatement("CREATE TABLE MEMORY 'My T' (a INTEGER)").in_memory);
  EXPECT_EQ(ParseStatement("CREATE TABLE MEMORY 'My T' (a INTEGER)").name, "My T");
}

TEST(CreateTable, LanguagesAndSorts) {
  for (const engine::LanguageName& l : engine::Languages()) {
    const TableDef d = ParseStatement("CREATE TABLE T (a INTEGER LANGUAGE \"" +
                                      std::string(l.name) + "\" SORT 'Default Order')");
    EXPECT_EQ(d.language, l.id) << l.name;
  }
  for (const char* german : {"German (Standard)", "German (Swiss)", "German (Austrian)",
                             "German (Luxembourg)", "German (Liechtenstein)"}) {
    EXPECT_EQ(ErrorOf(std::string("CREATE TABLE T (a INTEGER LANGUAGE '") + german +
                      "' SORT 'GERMAN PHONE BOOK ORDER')"),
              "");
  }
  EXPECT_NE(ErrorOf("CREATE TABLE T (a INTEGER LANGUAGE 'Dutch (Belgian)' SORT 'German Phone "
                    "Book Order')"),
            "");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER LANGUAGE 'Russian' SORT 'Cyrillic')"),
            "Invalid sort constant 'Cyrillic' specified after SORT keyword");
}

TEST(CreateTable, ColumnListStopsAtOptionKeywords) {
  // A column named like a stop keyword ends the list; quoted or bracketed it
  // is a column.
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER, Description CHAR(5))"),
            "Right parentheses expected after CREATE TABLE statement, instead found '('");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (User INTEGER)"),
            "MAJOR keyword expected after USER keyword, instead found 'INTEGER'");
  const TableDef d = Columns("[Description] CHAR(5), \"User\" INTEGER, [Blob] BLOB(0,1)");
  ASSERT_EQ(d.fields.size(), 3u);
  EXPECT_EQ(d.fields[0].name, "Description");
  EXPECT_EQ(d.fields[1].name, "User");
  EXPECT_EQ(d.fields[2].number, 3);
  // No columns at all parses (the create operation refuses it).
  EXPECT_TRUE(ParseStatement("CREATE TABLE T ()").fields.empty());
  // A trailing comma before ")" ends the list.
  EXPECT_EQ(Columns("a INTEGER,").fields.size(), 1u);
}

TEST(CreateTable, ColumnAttributes) {
  const FieldDef f = Field(
      "a CHAR(20) DESCRIPTION 'the key' NOT NULL DEFAULT 'x' MINIMUM -5 MAXIMUM +7.5 CHARCASE "
      "UPPER");
  EXPECT_EQ(f.description, "the key");
  EXPECT_EQ(f.required, 1);
  EXPECT_EQ(f.default_value, "x");
  EXPECT_EQ(f.min_value, "-5");
  EXPECT_EQ(f.max_value, "+7.5");
  EXPECT_EQ(f.char_case, engine::kCaseUpper);
  EXPECT_EQ(Field("a CHAR(5) CHARCASE lower").char_case, engine::kCaseLower);
  EXPECT_EQ(Field("a CHAR(5) CHARCASE NoChange").char_case, engine::kCaseNoChange);
  EXPECT_EQ(Field("a CHAR(5) DEFAULT #65 MIN abc MAX 1e3").default_value, "#65");
  EXPECT_EQ(Field("a CHAR(5) MIN abc MAX 1e3").max_value, "1e3");
  // Attributes out of order end the column; a DESCRIPTION after them is the
  // table's.
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a CHAR(5) CHARCASE UPPER NOT NULL)"),
            "Right parentheses expected after CREATE TABLE statement, instead found 'NOT'");
  const TableDef late = Columns("a INTEGER NOT NULL DESCRIPTION 'x'");
  EXPECT_EQ(late.fields[0].description, "");
  EXPECT_EQ(late.description, "x");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER DEFAULT ,)"),
            "Value expected after DEFAULT keyword, instead found ','");
  // Texts are cut to their stored lengths.
  const std::string long_name(40, 'n'), long_text(80, 't');
  const FieldDef cut =
      Field(long_name + " CHAR(5) DESCRIPTION '" + long_text + "' DEFAULT '" + long_text + "'");
  EXPECT_EQ(cut.name, std::string(30, 'n'));
  EXPECT_EQ(cut.description, std::string(50, 't'));
  EXPECT_EQ(cut.default_value, std::string(50, 't'));
}

TEST(CreateTable, PrimaryKeyClause) {
  const TableDef d = Columns(
      "a INTEGER, b CHAR(5) CONSTRAINT pk UNIQUE DESCENDING NOCASE PRIMARY KEY (B, [a], c) "
      "COMPRESS FULL");
  ASSERT_EQ(d.indexes.size(), 1u);
  const IndexDef& i = d.indexes[0];
  EXPECT_EQ(i.name, "");
  EXPECT_EQ(i.unique, 1);
  EXPECT_EQ(i.descending, 1);
  EXPECT_EQ(i.case_insensitive, 1);
  EXPECT_EQ(i.compression, engine::kCompressFull);
  // "c" names no column: field 0, which the create operation refuses.
  EXPECT_EQ(i.fields, (std::vector<std::uint16_t>{2, 1, 0}));
  EXPECT_EQ(Columns("a INTEGER PRIMARY KEY (a) COMPRESS DUPBYTE").indexes[0].compression, 1);
  EXPECT_EQ(Columns("a INTEGER PRIMARY KEY (a) COMPRESS trailbyte").indexes[0].compression, 2);
  EXPECT_EQ(Columns("a INTEGER PRIMARY KEY (a) COMPRESS NONE").indexes[0].compression, 0);
  EXPECT_EQ(Columns("a INTEGER ASC PRIMARY KEY (a)").indexes[0].descending, 0);
  // Without a clause: one empty definition.
  EXPECT_EQ(Columns("a INTEGER").indexes, std::vector<IndexDef>{IndexDef{}});
  // A second clause is refused.
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER PRIMARY KEY (a) PRIMARY KEY (a))"),
            "Right parentheses expected after CREATE TABLE statement, instead found 'PRIMARY'");
}

TEST(CreateTable, EndOfStatement) {
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER)"), "");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER);"), "");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER)  \r\n\t"), "");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER);;"), "");  // nothing is read after ";"
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER),"),
            "End of CREATE TABLE statement expected, instead found ','");
}

TEST(CreateTable, QuotesAndBrackets) {
  EXPECT_EQ(ErrorOf("CREATE TABLE 'T (a INTEGER)"),
            "Missing single quote after 'T (a INTEGER)' in table");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER DESCRIPTION \"x)"),
            "Missing double quote after 'x)' in table column");
  EXPECT_EQ(ErrorOf("CREATE TABLE T (a INTEGER PRIMARY KEY ([a)"),
            "Missing right bracket after 'a)' in index column");
  const TableDef d = ParseStatement("CREATE TABLE 'it''s' (\"say \"\"hi\"\"\" INTEGER)");
  EXPECT_EQ(d.name, "it's");
  EXPECT_EQ(d.fields[0].name, "say \"hi\"");
}

TEST(CreateTable, MessagesAreCutTo255Characters) {
  const std::string type(400, 'Z');
  const std::string text = ErrorOf("CREATE TABLE T (a " + type + ")");
  EXPECT_EQ(text.size(), 255u);
  EXPECT_EQ(text.substr(0, 48), "SQL data type keyword expected, instead found 'Z");
}

TEST(SqlTokenizer, NumbersAlwaysUseThePoint) {
  // The process locale never changes what a number is.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  struct Case {
    const char* text;
    std::vector<std::pair<int, std::string>> tokens;
  } cases[] = {
      {"1.5", {{kTokenNumber, "1.5"}}},
      {"1,5", {{kTokenInteger, "1"}, {',', ","}, {kTokenInteger, "5"}}},
      {".5 5.", {{kTokenNumber, ".5"}, {kTokenNumber, "5."}}},
      {"1e5 2E-3 3e+",
       {{kTokenNumber, "1e5"},
        {kTokenNumber, "2E-3"},
        {kTokenInteger, "3"},
        {kTokenIdentifier, "e"},
        {'+', "+"}}},
      {"#65 # [a b] x_1$",
       {{kTokenCharacter, "#65"},
        {'#', "#"},
        {kTokenBracketed, "a b"},
        {kTokenIdentifier, "x_1$"}}},
      {"'' \"\"", {{kTokenQuoted, ""}, {kTokenQuoted, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Tokenizer t(c.text);
    for (const auto& [kind, text] : c.tokens) {
      EXPECT_EQ(t.Current().kind, kind);
      EXPECT_EQ(t.Current().text, text);
      t.Advance();
    }
    EXPECT_EQ(t.Current().kind, kTokenEnd);
  }
  EXPECT_EQ(ParseStatement("CREATE TABLE T (a DECIMAL(10,4))").fields[0].scale, 4);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(SqlTokenizer, IntegersSaturate) {
  Tokenizer t("18446744073709551615 18446744073709551616 007");
  EXPECT_EQ(t.Current().IntegerValue(), 18446744073709551615ull);
  t.Advance();
  EXPECT_EQ(t.Current().IntegerValue(), 18446744073709551615ull);
  t.Advance();
  EXPECT_EQ(t.Current().IntegerValue(), 7u);
}

TEST(SqlTokenizer, NulEndsTheText) {
  const std::string s("CREATE TABLE T (a INTEGER)\0junk", 31);
  EXPECT_EQ(ErrorOf(s), "");
}

}  // namespace
}  // namespace vandrel::sql
