/* The filter-script grammar. The order of the rules matters: error
   recovery picks the first error rule that fits, so they stay in this order.
   Semantic actions live in CSieveGrammar (sievegrammar.cpp). */

%code requires {
#include "filter/sievegrammar.h"
#include "filter/sievelex.h"
}

%code {
#include <stdio.h>

// The parser's stacks hold 200 entries and never grow.
#define YYINITDEPTH 200
#define YYMAXDEPTH 200

#define G (param->grammar)
#define L (param->lexer)
// End the parse with a result code (its message already printed).
#define FAIL(code) do { G->Fail(code); YYABORT; } while (0)
// Print a fixed message and end the parse with a code.
#define ERR(code, message) do { G->PrintError("%s", message); FAIL(code); } while (0)

static int sievelex(SIEVESTYPE* value, CSieveParseParam* param) {
  int token = param->lexer->yylex();
  *value = param->lexer->GetValue();
  // A byte the scanner refused ends the input; its error line stands.
  if (param->lexer->GetFailure() != 0) return 0;
  return token;
}

// A syntax error no error rule covers says nothing of its own.
static void sieveerror(CSieveParseParam*, const char*) {}

static const char kExpectedString[] = "Expected a quoted string or multi-line string.";
static const char kExpectedComparator[] = "Expected a quoted string as comparator specification.";
static const char kExpectedRelational[] =
    "Expected one of the following relational-match specifications: \"gt\", \"ge\", \"lt\",\"le\",\"eq\",\"ne\".";
static const char kUnrecognized[] = "Unrecognized command or it is not valid in this state.";
}

%define api.prefix {sieve}
%define api.pure full
%define api.value.type {tag_SIEVE_VALUE}
%parse-param {CSieveParseParam* param}
%lex-param {CSieveParseParam* param}

%token ACTION_REJECT 257
%token ACTION_FILEINTO 258
%token ACTION_REDIRECT 259
%token ACTION_KEEP 260
%token ACTION_DISCARD 261
%token ACTION_VACATION 262
%token IF_ 263
%token ELSIF_ 264
%token ELSE_ 265
%token CMD_REQUIRE 266
%token CMD_STOP 267
%token TEST_ALLOF 268
%token TEST_ANYOF 269
%token TEST_ENVELOPE 270
%token TEST_EXISTS 271
%token TEST_FALSE 272
%token TEST_HEADER 273
%token TEST_NOT 274
%token TEST_SIZE 275
%token TEST_TRUE 276
%token TEST_ADDRESS 277
%token TEST_BODY 278
%token TEST_ATTACHMENT 279
%token TEST_X_SPAMTEST 280
%token TAG_COMPARATOR 281
%token TAG_IS 282
%token TAG_CONTAINS 283
%token TAG_MATCHES 284
%token TAG_REGEX 285
%token TAG_COUNT 286
%token TAG_VALUE 287
%token TAG_LOCALPART 288
%token TAG_DOMAIN 289
%token TAG_ALL 290
%token TAG_ADDRESSES 291
%token TAG_SUBJECT 292
%token TAG_OVER 293
%token TAG_UNDER 294
%token TAG_MIME 295
%token TAG_DAYS 296
%token TAG_TEXT 297
%token TAG_RAW 298
%token TAG_CONTENT_TYPE 299
%token MULTI_LINE 300
%token QUOTED_STRING 301
%token NUMBER 302
%token DECIMAL_NUMBER 303
%token SYNTAX_ERROR 304

%expect 1
%start script

%%

script
  : commands                                  { G->SetExpressionTree($1.node); }
  | require_statements commands               { G->SetExpressionTree(G->MoveReqStmtsToCmdList($1.node, $2.node));
                                                G->UnRegister($1.node); G->UnRegister($2.node); }
  | error                                     { ERR(E_SIEVE_SYNTAX, kUnrecognized); }
  ;

require_statements
  : require require_statements                { $$ = $2; if (!G->AddCtrlRequire($$.node, $1.node)) FAIL(E_SIEVE_BUILD_REQUIRE); }
  | require                                   { $$.node = nullptr; if (!G->AddCtrlRequire($$.node, $1.node)) FAIL(E_SIEVE_BUILD_REQUIRE); }
  ;

require
  : CMD_REQUIRE strings_list ';'              { $$.node = G->CheckREQUIRE($2.node);
                                                if ($$.node == nullptr) FAIL(E_SIEVE_UNSUPPORTED_FEATURE);
                                                $$.node->m_nLine = $1.line; }
  ;

commands
  : %empty                                    { $$.node = nullptr; $$.line = 0; }
  | commands command                          { $$ = $1; G->AddCommand($$.node, $2.node); }
  ;

block_commands
  : '{' commands '}'                          { $$ = $2; }
  | commands '}'                              { ERR(E_SIEVE_SYNTAX, "Expected a '{'."); }
  ;

command
  : action ';'                                { $$ = $1; }
  | action error                              { ERR(E_SIEVE_SYNTAX, "Expected ';' at the end of command."); }
  | action ';' ELSIF_                         { ERR(E_SIEVE_SYNTAX, "illegal elsif without matching if."); }
  | action ';' ELSE_                          { ERR(E_SIEVE_SYNTAX, "illegal else without matching if."); }
  | IF_ test block_commands elsif_statements  { $$.node = G->NewCtrlIF($2.node, $3.node, $4.node, nullptr);
                                                if ($$.node == nullptr) FAIL(E_SIEVE_BUILD_IF);
                                                $$.node->m_nLine = $1.line; }
  | IF_ test block_commands elsif_statements ELSE_ block_commands
                                              { $$.node = G->NewCtrlIF($2.node, $3.node, $4.node, $6.node);
                                                if ($$.node == nullptr) FAIL(E_SIEVE_BUILD_IF);
                                                $$.node->m_nLine = $1.line; }
  | IF_ test error                            { ERR(E_SIEVE_SYNTAX, "Expected a '}'."); }
  | IF_ error                                 { ERR(E_SIEVE_SYNTAX, "Expected a test expression."); }
  | SYNTAX_ERROR                              { G->PrintError("%s", kUnrecognized); FAIL(static_cast<HRESULT>($1.code)); }
  | ','                                       { ERR(E_SIEVE_SYNTAX, "Unexpected ','."); }
  | ';'                                       { ERR(E_SIEVE_SYNTAX, "Expected a command or a test expression."); }
  ;

  /* Left-recursive: a chain of any length takes no parser stack. */
elsif_statements
  : %empty                                    { $$.node = nullptr; $$.line = 0; }
  | elsif_statements ELSIF_ test block_commands
                                              { CExprTreeNode* link = G->NewCtrlELSIF($3.node, $4.node, nullptr);
                                                if (link == nullptr) FAIL(E_SIEVE_BUILD_ELSIF);
                                                link->m_nLine = $2.line;
                                                $$ = $1;
                                                if (!G->AppendELSIF($$.node, link)) FAIL(E_SIEVE_BUILD_ELSIF); }
  ;

action
  : ACTION_REJECT string                      { $$.node = G->NewCmdREJECT($2.node); if (!$$.node) FAIL(E_SIEVE_BUILD_REJECT); $$.node->m_nLine = $1.line; }
  | ACTION_FILEINTO strings_list              { $$.node = G->NewCmdFILEINTO($2.node); if (!$$.node) FAIL(E_SIEVE_BUILD_FILEINTO); $$.node->m_nLine = $1.line; }
  | ACTION_REDIRECT strings_list              { $$.node = G->NewCmdREDIRECT($2.node); if (!$$.node) FAIL(E_SIEVE_BUILD_REDIRECT); $$.node->m_nLine = $1.line; }
  | ACTION_KEEP                               { $$.node = G->NewCmdKEEP(); if (!$$.node) FAIL(E_SIEVE_BUILD_KEEP); $$.node->m_nLine = $1.line; }
  | ACTION_DISCARD                            { $$.node = G->NewCmdDISCARD(); if (!$$.node) FAIL(E_SIEVE_BUILD_DISCARD); $$.node->m_nLine = $1.line; }
  | CMD_STOP                                  { $$.node = G->NewCmdSTOP(); if (!$$.node) FAIL(E_SIEVE_BUILD_STOP); $$.node->m_nLine = $1.line; }
  | ACTION_VACATION vac_tags string           { $$.node = G->Made(new CCmdVACATION(static_cast<CQuotedString*>($3.node),
                                                                                 static_cast<CVacationTags*>($2.node)), $1.line);
                                                G->UnRegister($2.node); G->UnRegister($3.node); }
  ;

test
  : TEST_ANYOF test_list                      { $$.node = G->Made(new CMultiTest(LOGIC_ANYOF, static_cast<CListTest*>($2.node)), $1.line);
                                                G->UnRegister($2.node); }
  | TEST_ALLOF test_list                      { $$.node = G->Made(new CMultiTest(LOGIC_ALLOF, static_cast<CListTest*>($2.node)), $1.line);
                                                G->UnRegister($2.node); }
  | TEST_ENVELOPE addr_env_tags strings_list strings_list
                                              { $$.node = G->NewTestENVELOPE($2.node, $3.node, $4.node);
                                                if (!$$.node) FAIL(E_SIEVE_BAD_ENVELOPE_TEST); $$.node->m_nLine = $1.line; }
  | TEST_ADDRESS addr_env_tags strings_list strings_list
                                              { $$.node = G->NewTestADDRESS($2.node, $3.node, $4.node);
                                                if (!$$.node) FAIL(E_SIEVE_BAD_ADDRESS_TEST); $$.node->m_nLine = $1.line; }
  | TEST_EXISTS strings_list                  { $$.node = G->Made(new CTestEXISTS(static_cast<CListStrings*>($2.node)), $1.line);
                                                G->UnRegister($2.node); }
  | TEST_HEADER header_tags strings_list strings_list
                                              { $$.node = G->NewTestHEADER($2.node, $3.node, $4.node);
                                                if (!$$.node) FAIL(E_SIEVE_BAD_HEADER_TEST); $$.node->m_nLine = $1.line; }
  | TEST_NOT test                             { $$.node = G->Made(new CTestNOT(static_cast<CTest*>($2.node)), $1.line);
                                                G->UnRegister($2.node); }
  | TEST_SIZE size_tag NUMBER                 { $$.node = G->Made(new CTestSIZE($2.keyword->token == TAG_OVER ? NUMBER_OVER : NUMBER_UNDER,
                                                                              $3.number), $1.line); }
  | TEST_SIZE size_tag error                  { ERR(E_SIEVE_EXPECTED_NUMBER, "Expected a numeric value."); }
  | TEST_X_SPAMTEST TAG_VALUE QUOTED_STRING QUOTED_STRING
                                              { $$.node = G->NewTestXSpamTest($3.node, $4.node);
                                                if (!$$.node) FAIL(E_SIEVE_SYNTAX); $$.node->m_nLine = $1.line; }
  | TEST_X_SPAMTEST TAG_VALUE QUOTED_STRING error
                                              { ERR(E_SIEVE_SYNTAX, "Expected a decimal number as quoted string or \"NIL\"."); }
  | TEST_X_SPAMTEST TAG_VALUE error           { ERR(E_SIEVE_SYNTAX, kExpectedComparator); }
  | TEST_X_SPAMTEST error                     { ERR(E_SIEVE_SYNTAX, "Expected tagged argument \":value\"."); }
  | TEST_TRUE                                 { $$.node = G->Made(new CTestBoolean(1), $1.line); }
  | TEST_FALSE                                { $$.node = G->Made(new CTestBoolean(0), $1.line); }
  | TEST_BODY body_tags strings_list strings_list
                                              { $$.node = G->NewTestBODY($2.node, $3.node, $4.node);
                                                if (!$$.node) FAIL(E_SIEVE_BAD_BODY_TEST); $$.node->m_nLine = $1.line; }
  | TEST_BODY body_tags strings_list          { $$.node = G->NewTestBODY($2.node, nullptr, $3.node);
                                                if (!$$.node) FAIL(E_SIEVE_BAD_BODY_TEST); $$.node->m_nLine = $1.line; }
  | TEST_BODY body_tags TAG_CONTENT_TYPE strings_list strings_list
                                              { $$.node = G->NewTestBODY($2.node, $4.node, $5.node);
                                                if (!$$.node) FAIL(E_SIEVE_BAD_BODY_TEST); $$.node->m_nLine = $1.line; }
  | TEST_BODY body_tags TAG_CONTENT_TYPE strings_list SYNTAX_ERROR
                                              { ERR(E_SIEVE_EXPECTED_PATTERNS, "Expected list of patterns you were looking for."); }
  | TEST_BODY body_tags TAG_CONTENT_TYPE SYNTAX_ERROR
                                              { ERR(E_SIEVE_EXPECTED_CONTENT_TYPES,
                                                    "Expected list of content-types, which are selected for matching."); }
  | TEST_ATTACHMENT attach_tags strings_list  { $$.node = G->NewTestATTACHMENT($2.node, $3.node);
                                                if (!$$.node) FAIL(E_SIEVE_BAD_ATTACHMENT_TEST); $$.node->m_nLine = $1.line; }
  | SYNTAX_ERROR                              { ERR(E_SIEVE_SYNTAX, "Expected a test expression."); }
  ;

size_tag
  : TAG_OVER                                  { $$ = $1; }
  | TAG_UNDER                                 { $$ = $1; }
  | SYNTAX_ERROR                              { ERR(E_SIEVE_EXPECTED_NUMBER, "Expected tagged argument of \":over\" or \":under\"."); }
  | error                                     { ERR(E_SIEVE_EXPECTED_NUMBER, "Expected tagged argument of \":over\" or \":under\"."); }
  ;

vac_tags
  : %empty                                    { $$.node = nullptr; $$.line = 0; }
  | vac_tags TAG_DAYS NUMBER                  { $$ = $1; if (!$$.node) $$.node = G->Made(new CVacationTags, $2.line);
                                                static_cast<CVacationTags*>($$.node)->m_nDays = $3.number; }
  | vac_tags TAG_ADDRESSES strings_list       { $$ = $1; if (!$$.node) $$.node = G->Made(new CVacationTags, $2.line);
                                                static_cast<CVacationTags*>($$.node)->SetAddresses(static_cast<CListStrings*>($3.node));
                                                G->UnRegister($3.node); }
  | vac_tags TAG_SUBJECT string               { $$ = $1; if (!$$.node) $$.node = G->Made(new CVacationTags, $2.line);
                                                static_cast<CVacationTags*>($$.node)->SetSubject(static_cast<CQuotedString*>($3.node));
                                                G->UnRegister($3.node); }
  | vac_tags TAG_MIME                         { $$ = $1; if (!$$.node) $$.node = G->Made(new CVacationTags, $2.line);
                                                static_cast<CVacationTags*>($$.node)->m_nMime = 1; }
  ;

header_tags
  : %empty                                    { $$.node = nullptr; $$.line = 0; }
  | header_tags match_types                   { $$ = $1; if (!G->AddTag($$.node, $2.node)) FAIL(E_SIEVE_BAD_RELATIONAL); }
  | header_tags TAG_COMPARATOR QUOTED_STRING  { $$ = $1; if (!G->AddComparator($$.node, $3.node)) FAIL(E_SIEVE_BAD_COMPARATOR); }
  | header_tags TAG_COMPARATOR error          { ERR(E_SIEVE_BAD_COMPARATOR, kExpectedComparator); }
  ;

match_types
  : TAG_IS                                    { G->NewMatchTypeNode($$.node, MATCH_IS, nullptr); $$.node->m_nLine = $1.line; }
  | TAG_CONTAINS                              { G->NewMatchTypeNode($$.node, MATCH_CONTAINS, nullptr); $$.node->m_nLine = $1.line; }
  | TAG_MATCHES                               { G->NewMatchTypeNode($$.node, MATCH_MATCHES, nullptr); $$.node->m_nLine = $1.line; }
  | TAG_REGEX                                 { G->NewMatchTypeNode($$.node, MATCH_REGEX, nullptr); $$.node->m_nLine = $1.line; }
  | TAG_COUNT QUOTED_STRING                   { if (!G->NewMatchTypeNode($$.node, MATCH_COUNT, $2.node)) FAIL(E_SIEVE_BAD_RELATIONAL);
                                                $$.node->m_nLine = $1.line; }
  | TAG_COUNT error                           { ERR(E_SIEVE_BAD_RELATIONAL, kExpectedRelational); }
  | TAG_VALUE QUOTED_STRING                   { if (!G->NewMatchTypeNode($$.node, MATCH_VALUE, $2.node)) FAIL(E_SIEVE_BAD_RELATIONAL);
                                                $$.node->m_nLine = $1.line; }
  | TAG_VALUE error                           { ERR(E_SIEVE_BAD_RELATIONAL, kExpectedRelational); }
  ;

addr_env_tags
  : %empty                                    { $$.node = nullptr; $$.line = 0; }
  | addr_env_tags acts_on_tag                 { $$ = $1; if (!G->AddTag($$.node, $2.node)) FAIL(E_SIEVE_BUILD_ADDRESS_PART); }
  | addr_env_tags match_types                 { $$ = $1; if (!G->AddTag($$.node, $2.node)) FAIL(E_SIEVE_BAD_RELATIONAL); }
  | addr_env_tags TAG_COMPARATOR QUOTED_STRING
                                              { $$ = $1; if (!G->AddComparator($$.node, $3.node)) FAIL(E_SIEVE_BAD_COMPARATOR); }
  ;

body_tags
  : %empty                                    { $$.node = nullptr; $$.line = 0; }
  | body_tags match_types                     { $$ = $1; if (!G->AddTag($$.node, $2.node)) FAIL(E_SIEVE_BAD_RELATIONAL); }
  | body_tags TAG_TEXT                        { $$ = $1; if (!G->AddBodyTransform($$.node, CExprTreeNode::NODE_TAG_TEXT, $2.line))
                                                  ERR(E_SIEVE_SYNTAX, "The body transform tags \":raw\", \":text\" are mutually exclusive."); }
  | body_tags TAG_RAW                         { $$ = $1; if (!G->AddBodyTransform($$.node, CExprTreeNode::NODE_TAG_RAW, $2.line))
                                                  ERR(E_SIEVE_SYNTAX, "The body transform tags \":raw\", \":text\" are mutually exclusive."); }
  | body_tags TAG_COMPARATOR QUOTED_STRING    { $$ = $1; if (!G->AddComparator($$.node, $3.node)) FAIL(E_SIEVE_BAD_COMPARATOR); }
  | body_tags SYNTAX_ERROR                    { FAIL(static_cast<HRESULT>($2.code)); }
  ;

attach_tags
  : %empty                                    { $$.node = nullptr; $$.line = 0; }
  | attach_tags match_types                   { $$ = $1; if (!G->AddTag($$.node, $2.node)) FAIL(E_SIEVE_BAD_RELATIONAL); }
  | attach_tags TAG_COMPARATOR QUOTED_STRING  { $$ = $1; if (!G->AddComparator($$.node, $3.node)) FAIL(E_SIEVE_BAD_COMPARATOR); }
  ;

acts_on_tag
  : TAG_LOCALPART                             { $$.node = G->Made(new CAddressPart(ADDRESS_LOCALPART), $1.line); }
  | TAG_ALL                                   { $$.node = G->Made(new CAddressPart(ADDRESS_ALL), $1.line); }
  | TAG_DOMAIN                                { $$.node = G->Made(new CAddressPart(ADDRESS_DOMAIN), $1.line); }
  ;

test_list
  : test                                      { CListTest* list = G->Made(new CListTest, $1.line);
                                                list->AddTail($1.node); G->UnRegister($1.node); $$.node = list; }
  | '(' set_of_tests ')'                      { $$ = $2; }
  ;

set_of_tests
  : test                                      { CListTest* list = G->Made(new CListTest, $1.line);
                                                list->AddTail($1.node); G->UnRegister($1.node); $$.node = list; }
  | set_of_tests ',' test                     { $$ = $1; static_cast<CListTest*>($$.node)->AddTail($3.node); G->UnRegister($3.node); }
  ;

strings_list
  : '[' strings ']'                           { $$ = $2; }
  | string                                    { $$.node = nullptr; G->AddString($$.node, $1.node); }
  ;

strings
  : strings ',' string                        { $$ = $1; G->AddString($$.node, $3.node); }
  | string                                    { $$.node = nullptr; G->AddString($$.node, $1.node); }
  ;

string
  : QUOTED_STRING                             { $$ = $1; }
  | MULTI_LINE                                { $$ = $1; }
  | error                                     { ERR(E_SIEVE_SYNTAX, kExpectedString); }
  ;

%%

