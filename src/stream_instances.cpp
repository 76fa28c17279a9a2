// The string stream that Boost's XML reader formats its error messages with,
// instantiated here so that the exe carries only the members it uses.
#include <sstream>

template class std::basic_stringbuf<char>;
template class std::basic_stringstream<char>;
