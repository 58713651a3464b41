// The includer compiled as C++ of each standard.
#include "includer.c"
