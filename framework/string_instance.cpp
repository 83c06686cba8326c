// Linked into each shipped program, like the library's reports: the C++ library's string,
// instantiated here, where every member gets a section of its own, so that the linker keeps only
// the members the program uses. The library's own instance comes as one piece of 33 KB (code
// and unwind tables) as soon as any member of it is used.
#include <string>

#if defined(__GLIBCXX__)
template class std::basic_string<char>;
#endif
