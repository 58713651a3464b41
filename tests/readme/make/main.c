/* The README's Makefile, run as written: every file of assets/ gets a header. */
#include "assets/NOTICE.h"
#include "assets/logo.h"

#include <string.h>

int main(void) {
    return !(sizeof assets_logo == 5 && memcmp(assets_NOTICE, "no extension\n", 13) == 0);
}
