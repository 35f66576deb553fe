// Small builders for expression-tree tests: string lists, tag lists and the
// printed text of a node.
#ifndef TESTS_ENGINE_FILTER_TREEBUILD_H
#define TESTS_ENGINE_FILTER_TREEBUILD_H

#include <initializer_list>
#include <string>

#include "filter/exprtree.h"

using telsor::CSharedObjPtr;

inline CSharedObjPtr<CListStrings> Strings(std::initializer_list<const char*> texts) {
  CSharedObjPtr<CListStrings> list = new CListStrings;
  for (const char* t : texts) list->AddTail(new CQuotedString(t));
  return list;
}

inline CSharedObjPtr<CListStrings> Strings(const std::string& a, const std::string& b) {
  return Strings({a.c_str(), b.c_str()});
}

inline CSharedObjPtr<CListTags> Tags(std::initializer_list<CExprTreeNode*> tags) {
  CSharedObjPtr<CListTags> list = new CListTags;
  for (CExprTreeNode* t : tags) list->AddTail(t);
  return list;
}

inline std::string Printed(const CExprTreeNode* node, LONG level = 0) {
  telsor::CBufferedWriter out(64);
  tag_PRINT_CTXT ctx = {nullptr, level, 0, &out};
  node->Print(&ctx);
  telsor::TSTRING text = out.ToString();
  return std::string(text.c_str(), static_cast<size_t>(text.GetLength()));
}

#endif  // TESTS_ENGINE_FILTER_TREEBUILD_H
