#include "emit/banner.h"

namespace qv {

void CopyWrite(Out& o) {
  o.put("########################################################\n");
  o.put("#\n");
  o.put("#   Quorvelin translator.\n");
  o.put("#   Ver 2.07  Nov 18 2005\n");
  o.put("#   Intermediate code to SPIM assembly, by the quorvelin team\n");
  o.put("#\n");
  o.put("########################################################\n");
}

void Usage(Out& o) { o.put("\nCommand Line Usage: quorvelin file [| file] > output\n"); }

}  // namespace qv
