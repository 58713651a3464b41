/* The Windows SDK's <winnt.h> includes <ctype.h> and takes wchar_t from it; an index calls none
   of its functions. */
#pragma once
#include <stddef.h>
