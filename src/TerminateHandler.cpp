// The handler std::terminate calls by default prints the type of the exception
// to standard error, which a Windows GUI program does not have, and with its
// name demangler it is a sixth of the program's size. Linked into each program
// directly, this one replaces it: it ends the program as that one does.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
