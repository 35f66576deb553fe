// qsortext: sorts an array with a comparison that also receives a context.
//
//   int keys[] = {30, 10, 20};
//   int items[] = {0, 1, 2};                 // to be ordered by keys[item]
//   auto byKey = [](const void* a, const void* b, void* table) {
//     const int* k = static_cast<const int*>(table);
//     return k[*static_cast<const int*>(a)] - k[*static_cast<const int*>(b)];
//   };
//   qsortext(items, 3, sizeof items[0], keys, byKey);   // items: 1, 2, 0
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
