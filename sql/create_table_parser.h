// The CREATE TABLE statement: its grammar, the checks of its column types
// and options, and the table definition it yields. The whole statement is
// parsed before anything is created; every failure is the engine error
// 11949 with the message naming what was expected and what was found.
//
//   CREATE TABLE [MEMORY] name ( column [, column]...
//     [[CONSTRAINT name] [UNIQUE] [ASC|ASCENDING|DESC|DESCENDING] [NOCASE]
//      PRIMARY KEY ( name [, name]... ) [COMPRESS FULL|DUPBYTE|TRAILBYTE|NONE]]
//     [DESCRIPTION text] [BLOB BLOCK SIZE n] [LANGUAGE text [SORT text]]
//     [ENCRYPTED WITH text] [USER MAJOR VERSION n] [USER MINOR VERSION n] ) [;]
//   column = name type [DESCRIPTION text] [NOT NULL] [DEFAULT value]
//            [MIN|MINIMUM value] [MAX|MAXIMUM value]
//            [CHARCASE UPPER|LOWER|NOCHANGE]
//
// Options come in exactly this order. A primary-key column that names no
// column gives field number 0, which the create operation refuses (10023).
#pragma once

#include <string_view>

#include "engine/table_definition.h"
#include "sql/sql_tokenizer.h"

namespace vandrel::sql {

// Parses from the tokenizer's current token, which must be the CREATE
// keyword's successor TABLE (the statement dispatcher has read CREATE).
engine::TableDef ParseCreateTableBody(Tokenizer& tokens);

// Parses a whole CREATE TABLE statement.
engine::TableDef ParseCreateTable(std::string_view text);

}  // namespace vandrel::sql
