// RFC 2047 decoding against Python's email.header.decode_header, over every
// encoded word in the headers of real mail (the training half of the
// SpamAssassin corpus, Python's and Go enmime's test messages) and over
// crafted malformed words. rfc2047_oracle.py finds the words with Python's
// own pattern and decodes them; here each is decoded as one word and the
// bytes and charset are compared. Where the two differ, the word must fall
// into one of the known classes below, and our answer must be the one our
// rules give for that class; anything else fails the test. Every header is
// also split into words by CRfc2047Text, which must find each of Python's
// words that is a word by our rules.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <strings.h>

#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/runprogram.h"
#include "mime/rfc2047text.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::Show;
using mime_test::Str;

using mime_test::FromHex;

namespace {

struct Record {
  char tag;             // 'W' real, 'C' crafted, 'H' header
  std::string word;     // the word, or the header value
  bool pythonOk = false;
  std::string decoded;  // Python's bytes
  std::string charset;  // Python's (lower-cased) charset
  std::vector<std::string> words;  // of a header
};

std::vector<Record> RunOracle(const std::string& corpora) {
  std::string script = __FILE__;
  script = script.substr(0, script.rfind('/')) + "/rfc2047_oracle.py";
  std::string command = "python3 '" + script + "' '" + corpora + "'";
  std::vector<Record> records;
  const telsor_test::ProgramRun run = telsor_test::RunProgram(command);
  for (const std::string& line : telsor_test::Lines(run.output)) {
    std::istringstream in(line);
    Record r;
    std::string tag, a, b, c, d;
    in >> tag >> a >> b;
    r.tag = tag.empty() ? '?' : tag[0];
    r.word = FromHex(a);
    if (r.tag == 'H') {
      std::stringstream list(b);
      std::string w;
      while (std::getline(list, w, ',')) r.words.push_back(FromHex(w));
    } else {
      in >> c >> d;
      r.pythonOk = b == "ok";
      r.decoded = FromHex(c);
      r.charset = FromHex(d);
    }
    records.push_back(r);
  }
  EXPECT_EQ(run.status, 0) << command;
  return records;
}

// The pieces of a word as Python's pattern cuts it: =?charset?L?text?=
struct Pieces {
  std::string charset;
  char letter;
  std::string text;
};

Pieces Cut(const std::string& word) {
  size_t q = word.find('?', 2);
  return {word.substr(2, q - 2), word[q + 1], word.substr(q + 3, word.size() - q - 5)};
}

bool IsQSafe(unsigned char c) { return c == '\t' || (c >= 0x20 && c <= 0x7E && c != '='); }
bool IsHex(char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; }

// Q text that our Q decoder refuses: a byte that may not stand in Q text
// or an "=" not followed by two hexadecimal digits.
bool QTextInvalid(const std::string& t) {
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '=') {
      if (i + 2 >= t.size() || !IsHex(t[i + 1]) || !IsHex(t[i + 2])) return true;
      i += 2;
    } else if (!IsQSafe(static_cast<unsigned char>(t[i]))) {
      return true;
    }
  }
  return false;
}

bool IsBase64Char(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/'; }

enum Class {
  AGREE,
  PYTHON_REFUSES,            // decode_header raised; we decode leniently
  QUESTION_MARK_IN_TEXT,     // "?" inside the text: no word for us
  BLANK_IN_CHARSET,          // white space in the charset: no word for us
  Q_TEXT_INVALID,            // we keep the raw text (US-ASCII), Python passes bytes through
  B_DATA_AFTER_PAD,          // we stop at the first "=", Python reads on
  UNEXPLAINED,
};
const char* const kClassNames[] = {"agree",
                                   "Python raises, ours decodes leniently",
                                   "'?' inside the text: not a word for us",
                                   "white space in the charset: not a word for us",
                                   "bad Q text: ours keeps the raw text",
                                   "B data after '=': ours stops at the pad",
                                   "unexplained"};

// Classifies a word and checks that our result is the one our rules give.
Class Judge(const Record& r, const CRfc2047EncodedWord& ours, std::string& why) {
  std::string decoded = Str(ours.GetDecodedText()), charset = Str(ours.GetCharset());
  if (r.pythonOk && decoded == r.decoded && strcasecmp(charset.c_str(), r.charset.c_str()) == 0) return AGREE;
  Pieces p = Cut(r.word);
  bool fellBack = decoded == r.word && charset == "US-ASCII";
  if (p.text.find('?') != std::string::npos) {
    why = "expected the word kept as text";
    return fellBack ? QUESTION_MARK_IN_TEXT : UNEXPLAINED;
  }
  if (p.charset.find_first_of(" \t") != std::string::npos) {
    why = "expected the word kept as text";
    return fellBack ? BLANK_IN_CHARSET : UNEXPLAINED;
  }
  if (!r.pythonOk) return PYTHON_REFUSES;
  if ((p.letter == 'q' || p.letter == 'Q') && QTextInvalid(p.text)) {
    why = "expected the raw text in US-ASCII";
    return decoded == p.text && charset == "US-ASCII" && ours.GetEncodingType() == 0 ? Q_TEXT_INVALID : UNEXPLAINED;
  }
  if (p.letter == 'b' || p.letter == 'B') {
    size_t pad = p.text.find('=');
    if (pad != std::string::npos) {
      bool dataAfter = false;
      for (size_t i = pad; i < p.text.size(); ++i) dataAfter = dataAfter || IsBase64Char(p.text[i]);
      TSTRING upToPad;
      // The oracle compares the text made, whatever the result.
      (void)BWordDecode(upToPad, p.text.c_str(), static_cast<ULONG>(pad));
      why = "expected the bytes before the first '='";
      if (dataAfter) return decoded == Str(upToPad) ? B_DATA_AFTER_PAD : UNEXPLAINED;
    }
  }
  why = "no known reason";
  return UNEXPLAINED;
}

TEST(Rfc2047Oracle, AgreesWithPythonOnRealAndCraftedWords) {
  const char* corpora = getenv("QOR_CORPORA");
  if (corpora == nullptr || *corpora == '\0') GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<Record> records = RunOracle(corpora);
  std::map<char, std::map<Class, int>> counts;
  int headers = 0, found = 0, notWordsForUs = 0;
  for (const Record& r : records) {
    if (r.tag == 'H') {
      ++headers;
      CRfc2047Text text(TSTRING(r.word.data(), static_cast<int>(r.word.size())));
      text.Parse();
      std::vector<std::string> ours;
      for (void* p = text.m_Words.GetHeadPosition(); p != nullptr;) {
        const CRfc2047EncodedWord& w = text.m_Words.GetNext(p);
        if (w.GetEncodingType() != 0) ours.push_back(Str(w.GetEncodedText()));
      }
      for (const std::string& word : r.words) {
        Pieces p = Cut(word);
        if (p.text.find('?') != std::string::npos || p.charset.find_first_of(" \t") != std::string::npos) {
          ++notWordsForUs;
          continue;
        }
        bool seen = false;
        for (const std::string& o : ours) seen = seen || o == word;
        EXPECT_TRUE(seen) << "word " << Show(word) << " not found in header " << Show(r.word);
        found += seen;
      }
      continue;
    }
    CRfc2047EncodedWord ours(TSTRING(r.word.data(), static_cast<int>(r.word.size())));
    ours.Parse();
    std::string why;
    Class c = Judge(r, ours, why);
    ++counts[r.tag][c];
    EXPECT_NE(c, UNEXPLAINED) << Show(r.word) << ": Python " << (r.pythonOk ? Show(r.decoded) : "raises") << " ["
                              << r.charset << "], ours " << Show(Str(ours.GetDecodedText())) << " ["
                              << Str(ours.GetCharset()) << "]; " << why;
  }
  ASSERT_GT(counts['W'][AGREE], 40) << "too few real words: is the corpus there?";
  ASSERT_GT(headers, 50);
  // The real words: every one agrees.
  EXPECT_EQ(counts['W'].size(), 1u);
  std::cout << "RFC 2047 against Python: " << headers << " headers, " << found << " words found in them, "
            << notWordsForUs << " not words by our rules\n";
  for (char tag : {'W', 'C'}) {
    for (const auto& entry : counts[tag]) {
      std::cout << "  " << (tag == 'W' ? "real   " : "crafted") << "  " << entry.second << "  "
                << kClassNames[entry.first] << "\n";
    }
  }
}

}  // namespace
