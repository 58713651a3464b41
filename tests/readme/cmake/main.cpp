// The README's CMake quick start, built as written: each array holds its file's bytes.
#include "8bit.h"
#include "fonts/big.h"
#include "icons/app.h"
#include "image.h"

#include <cstring>

template <std::size_t size> bool holds(const unsigned char (&array)[size], const char* text) {
    return size == std::strlen(text) && std::memcmp(array, text, size) == 0;
}

int main() {
    return holds(icons_app, "app icon\n") && holds(_8bit, "RIFF wave\n") &&
                   holds(image, "firmware image\n") && holds(fonts_big, "a big font\n")
               ? 0
               : 1;
}
