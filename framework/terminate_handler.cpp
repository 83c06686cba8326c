// Linked into each program so that the C++ library's own handler for an uncaught exception,
// which prints the exception's demangled type name to a console these programs do not have,
// is not linked at all: with it comes the library's whole name demangler and its printf, about
// a tenth of the program. An uncaught exception still ends the process, as it would anyway.
#include <stdlib.h>

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    abort();
}
} // namespace __gnu_cxx
