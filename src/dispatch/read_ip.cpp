#include "dispatch/read_ip.h"

#include "dispatch/jump_table.h"
#include "emit/frame.h"
#include "input/lines.h"
#include "input/tokenizer.h"

namespace qv {

void read_ip(State& st, LineReader& ip, int file_index) {
  if (file_index == 0) gen_header(st);
  each_piece(st, ip, [&](int len, int) {
    tokonize(st, len);
    jump_table(st);
    st.out.maybe_flush();
  });
}

}  // namespace qv
