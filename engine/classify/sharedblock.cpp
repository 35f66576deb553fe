// The shared element blocks of the learning core, instantiated once.
#include "classify/sharedblock.h"

namespace telsor {

template class CSharedBlock<double>;
template class CSharedBlock<BYTE>;

}  // namespace telsor
