// Header fields from untrusted bytes, two ways.
// Even first byte: the input is a program of collection operations (add,
// sort, remove, find, compose by name), run on a CRfc82Fields and on a plain
// model (a vector ordered as the collection's rules say); both must agree
// after every step.
// Odd first byte: the input is a name, a value and a limit; the value is
// composed as a folded header line, which must keep every continuation line
// within the limit plus its indent, and which the parser must read back as the value's words
// joined by single spaces.
#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/teststream.h"
#include "mime/headerfields.h"
#include "mime/rfc822parser.h"

using namespace telsor;

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

const char* const NAMES[] = {"To", "to", "Subject", "Received", "X-A", "x-a", "Cc", "Zz"};

struct ModelField {
  std::string name, contents;
  ULONG index;
};

bool Less(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; }

void RunProgram(const uint8_t* p, size_t n) {
  CRfc822Fields fields;
  std::vector<ModelField> model;
  bool byName = false;
  for (size_t i = 0; i + 1 < n; i += 2) {
    uint8_t op = p[i] % 6, arg = p[i + 1];
    std::string name = NAMES[arg % 8];
    switch (op) {
      case 0:
      case 1: {  // add
        std::string contents = std::to_string(i);
        fields.Add(name.c_str(), contents.c_str());
        ModelField f{name, contents, static_cast<ULONG>(model.size())};
        if (byName) {
          auto at = std::find_if(model.begin(), model.end(), [&](const ModelField& m) { return !Less(m.name, name); });
          model.insert(at, f);
        } else {
          model.push_back(f);
        }
        break;
      }
      case 2:  // sort
        if (arg & 1) {
          fields.Sort(CRfc822Fields::ORDER_BY_NAME);
          if (!model.empty()) {
            std::stable_sort(model.begin(), model.end(),
                             [](const ModelField& a, const ModelField& b) { return Less(a.name, b.name); });
            byName = true;
          }
        } else {
          fields.Sort(CRfc822Fields::ORDER_INSERTION);
          if (!model.empty()) {
            std::stable_sort(model.begin(), model.end(),
                             [](const ModelField& a, const ModelField& b) { return a.index < b.index; });
            byName = false;
          }
        }
        break;
      case 3:  // remove one
        if (!model.empty()) {
          size_t at = arg % model.size();
          ULONG removed = model[at].index;
          fields.RemoveAt(static_cast<LONG>(at));
          model.erase(model.begin() + static_cast<long>(at));
          for (ModelField& m : model)
            if (m.index > removed) --m.index;
        }
        break;
      case 4: {  // find
        LONG got = fields.FindFirst(name.c_str());
        auto it = std::find_if(model.begin(), model.end(),
                               [&](const ModelField& m) { return strcasecmp(m.name.c_str(), name.c_str()) == 0; });
        Check(got == (it == model.end() ? -1 : static_cast<LONG>(it - model.begin())));
        break;
      }
      case 5: {  // compose by name: insertion order
        CTestStream out;
        fields.ComposeHeadersByName(name.c_str(), &out, 76);
        std::vector<ModelField> same;
        for (const ModelField& m : model)
          if (strcasecmp(m.name.c_str(), name.c_str()) == 0) same.push_back(m);
        std::stable_sort(same.begin(), same.end(),
                         [](const ModelField& a, const ModelField& b) { return a.index < b.index; });
        std::string expected;
        for (const ModelField& m : same) expected += m.name + ": " + m.contents + "\r\n";
        Check(out.str() == expected);
        break;
      }
    }
    Check(fields.GetCount() == model.size());
    Check(fields.GetOrder() == (byName ? CRfc822Fields::ORDER_BY_NAME : CRfc822Fields::ORDER_INSERTION));
    for (size_t k = 0; k < model.size(); ++k) {
      const CRfc822Field& f = fields[static_cast<LONG>(k)];
      Check(model[k].name == f.GetName().c_str() && model[k].contents == f.GetContents().c_str() &&
            model[k].index == f.GetIndex());
    }
  }
}

void ComposeAndReadBack(const uint8_t* p, size_t n) {
  if (n < 2) return;
  ULONG limit = p[0] % 100;
  ULONG indent = p[0] % 8;
  size_t nameLength = 1 + p[1] % 12;
  p += 2;
  n -= 2;
  std::string name;
  for (size_t i = 0; i < nameLength && i < n; ++i) name += "ABCdefg-1XyZ"[p[i] % 12];
  if (name.empty() || name[0] == '-') name = "N" + name;
  size_t skip = nameLength < n ? nameLength : n;
  std::string value;
  for (size_t i = skip; i < n; ++i) {
    uint8_t c = p[i];
    // Printable bytes, blanks and bytes from 0x80; no backslash, whose
    // escapes the unfolding keeps.
    if (c == '\\' || (c < 0x20 && c != '\t') || c == 0x7F) c = ' ';
    value += static_cast<char>(c);
  }
  CTestStream out;
  CRfc822Field::ComposeHeader(name.c_str(), value.c_str(), &out, limit);
  std::string text = out.str();
  Check(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("\r\n", start);
    size_t line = end - start;
    if (start > 0) Check(line <= (limit > 0 ? limit : 1) + 2);
    start = end + 2;
  }
  std::string words;
  bool space = false;
  for (char c : value) {
    if (c == ' ' || c == '\t') {
      space = !words.empty();
    } else {
      if (space) words += ' ';
      space = false;
      words += c;
    }
  }
  CRfc822Fields fields;
  Check(CRfc822Parser::CreateFieldsCollection(text.c_str(), fields, 0) == S_OK);
  Check(fields.GetCount() == 1);
  Check(fields[0].GetName().c_str() == name);
  Check(std::string(fields[0].GetContents().c_str(), static_cast<size_t>(fields[0].GetContents().GetLength())) ==
        words);
  (void)CRfc822Field::FormatHeader(name.c_str(), words.c_str(), value.c_str(), limit, indent);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 20000) return 0;
  if (data[0] % 2 == 0)
    RunProgram(data + 1, size - 1);
  else
    ComposeAndReadBack(data + 1, size - 1);
  return 0;
}
