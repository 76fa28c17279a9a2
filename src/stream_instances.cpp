// libstdc++'s string streams, instantiated here for link-time optimisation.
// Boost's XML reader formats its error messages with a std::stringstream; the
// library keeps all these streams in one archive member, which the linker would
// otherwise take whole into the exe. The set matches that member's, so no
// program linking the core ever needs the member as well.
#include <sstream>

template class std::basic_stringbuf<char>;
template class std::basic_istringstream<char>;
template class std::basic_ostringstream<char>;
template class std::basic_stringstream<char>;
template class std::basic_stringbuf<wchar_t>;
template class std::basic_istringstream<wchar_t>;
template class std::basic_ostringstream<wchar_t>;
template class std::basic_stringstream<wchar_t>;
