// A failed read or write that ends the run; what() is the message for the
// user.  Shared by the reader, the writer and every command.
#pragma once

#include <stdexcept>

namespace qv {

struct Fatal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace qv
