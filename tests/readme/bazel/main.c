/* The README's Bazel BUILD file, built as written: two headers and a declared library file. */
#include "assets/logo.h"
#include "blobs/image.h"
#include "icons/app.h"

#include <string.h>

int main(void) {
    return !(sizeof assets_logo == 5 && memcmp(icons_app, "icon\n", 5) == 0 &&
             sizeof blobs_image == 6 && memcmp(blobs_image, "image\n", 6) == 0);
}
