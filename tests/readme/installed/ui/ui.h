#include <stddef.h>
size_t ui_stylesheet_size(void);
