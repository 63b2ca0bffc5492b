// Runs the translator in-process on texts given as input files.
#pragma once

#include <string>
#include <vector>

#include "input/line_reader.h"
#include "dispatch/read_ip.h"
#include "state.h"

namespace qv::test {

struct Run {
  std::string out;  // standard output
  std::string err;  // standard error
  uint64_t labels;  // internal_label_cnt at the end
};

// Translates the files in order.  With header == false the first file is
// treated like a later one, so `out` holds only what the lines produced.
// `labels_before` presets the internal label counter.
inline Run translate(const std::vector<std::string>& files, bool header = false, uint64_t labels_before = 0) {
  Run r;
  {
    Out out(&r.out);
    Out err(&r.err);
    State st(out, err);
    st.internal_label_cnt = labels_before;
    for (std::size_t i = 0; i < files.size(); i++) {
      LineReader ip(files[i].data(), files[i].size());
      read_ip(st, ip, header ? static_cast<int>(i) : static_cast<int>(i) + 1);
    }
    out.flush();
    err.flush();
    r.labels = st.internal_label_cnt;
  }
  return r;
}

// One input text, no header.
inline Run lines(const std::string& text, uint64_t labels_before = 0) { return translate({text}, false, labels_before); }

}  // namespace qv::test
