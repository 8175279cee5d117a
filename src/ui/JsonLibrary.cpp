// The compiled part of Boost.JSON, built once for the whole program (Debian ships no library of it).
#include <boost/json/src.hpp>
