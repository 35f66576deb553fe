// Small helpers of the front end: path joining, the integer score of a
// classifier value and the category record.
//
//   TSTRING path;
//   Misc::CombinePathName(TSTRING("/data"), TSTRING("Qor.bin"), path);  // "/data/Qor.bin"
//   int score = Misc::ConvertScoreNoThrow(0.4567);      // 456
//   int none = Misc::ConvertScoreNoThrow(DBL_MAX);      // 2147483647: no score
//   SQorCategoryScore categories;
//   Misc::SetCategorySelectedBySieve(&categories, Misc::CATEGORY_ID_MONEY);
//   // -1000 everywhere, 1000 for money
//
// The classifier's value for "no score" is DBL_MAX. A score is the value
// clamped to -1..1, times 1000, truncated toward zero.
#ifndef TELSOR_FILTER_SCAMISC_H
#define TELSOR_FILTER_SCAMISC_H

#include <float.h>

#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "include/qorengine.h"

namespace telsor {
namespace Misc {

enum : DWORD {
  CATEGORY_ID_HOAX = 33,
  CATEGORY_ID_ADULT = 34,
  CATEGORY_ID_MONEY = 36,
  CATEGORY_ID_GOODS = 37,
  CATEGORY_ID_HEALTH = 38,
};
// The category numbers in the record's order.
extern const DWORD kCategoryIds[5];

// out := dir, a "/" unless dir already ends in one (an empty dir gets one),
// then name.
void CombinePathName(const TSTRING& dir, const TSTRING& name, TSTRING& out);
// QOR_NO_SCORE for DBL_MAX (and for NaN); otherwise the score of x.
int32_t ConvertScoreNoThrow(double x);
// The same; DBL_MAX (and NaN) throws code 10 "Score is invalid."
// (scaerror.h): a score given back is always -1000..1000.
int32_t ConvertScore(double x);
// All five entries := value.
void InitCategoryScore(int32_t value, SQorCategoryScore* record);
// All five := -1000, then the entry of category := 1000 (none for a number
// that is not one of the five).
void SetCategorySelectedBySieve(SQorCategoryScore* record, DWORD category);
// The entry of a category, or null for a number that is not one of the five.
int32_t* CategoryEntry(SQorCategoryScore* record, DWORD category);

}  // namespace Misc
}  // namespace telsor

#endif  // TELSOR_FILTER_SCAMISC_H
