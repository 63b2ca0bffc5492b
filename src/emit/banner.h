// The two texts the translator writes about itself.
#pragma once

#include "emit/out.h"

namespace qv {

void CopyWrite(Out& o);
void Usage(Out& o);

}  // namespace qv
