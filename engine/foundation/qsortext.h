// qsortext: sorts an array with a comparison that also receives a context.
//
//   int ByKey(const void* a, const void* b, void* table) { ... }
//   qsortext(items, count, sizeof items[0], &table, ByKey);
//
// Order of equal elements is unspecified. Reentrant.
#ifndef TELSOR_FOUNDATION_QSORTEXT_H
#define TELSOR_FOUNDATION_QSORTEXT_H

namespace telsor {

// compare(a, b, context) < 0 puts a before b. Nothing happens for fewer
// than two elements, a null base or a zero size.
void qsortext(void* base, unsigned count, unsigned size, void* context,
              int (*compare)(const void*, const void*, void*));

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_QSORTEXT_H
