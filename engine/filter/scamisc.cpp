#include "filter/scamisc.h"

#include <math.h>

#include "filter/scaerror.h"

namespace telsor {
namespace Misc {

const DWORD kCategoryIds[5] = {CATEGORY_ID_HOAX, CATEGORY_ID_ADULT, CATEGORY_ID_MONEY, CATEGORY_ID_GOODS,
                               CATEGORY_ID_HEALTH};

void CombinePathName(const TSTRING& dir, const TSTRING& name, TSTRING& out) {
  TSTRING joined = dir;
  int length = joined.GetLength();
  if (length == 0 || joined[length - 1] != '/') joined.append("/", 1);
  joined.append(name.c_str(), name.GetLength());
  out = joined;
}

int32_t ConvertScoreNoThrow(double x) {
  if (x == DBL_MAX || isnan(x)) return QOR_NO_SCORE;
  if (x > 1.0) x = 1.0;
  if (x < -1.0) x = -1.0;
  return static_cast<int32_t>(x * 1000.0);
}

int32_t ConvertScore(double x) {
  // A score is -1000..1000 or none: a value that is no number has none.
  if (x == DBL_MAX || isnan(x)) ThrowError(QOR_ERROR_CLASSIFY, 0, "Score is invalid.");
  return ConvertScoreNoThrow(x);
}

void InitCategoryScore(int32_t value, SQorCategoryScore* record) {
  record->hoax = value;
  record->adult = value;
  record->money = value;
  record->goods = value;
  record->health = value;
}

int32_t* CategoryEntry(SQorCategoryScore* record, DWORD category) {
  switch (category) {
    case CATEGORY_ID_HOAX: return &record->hoax;
    case CATEGORY_ID_ADULT: return &record->adult;
    case CATEGORY_ID_MONEY: return &record->money;
    case CATEGORY_ID_GOODS: return &record->goods;
    case CATEGORY_ID_HEALTH: return &record->health;
    default: return nullptr;
  }
}

void SetCategorySelectedBySieve(SQorCategoryScore* record, DWORD category) {
  InitCategoryScore(-1000, record);
  if (int32_t* entry = CategoryEntry(record, category)) *entry = 1000;
}

}  // namespace Misc
}  // namespace telsor
