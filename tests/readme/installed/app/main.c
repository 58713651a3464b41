/* Built against the installed library alone: its assets, found by path. */
#include "ui.h"
#include "vormesta/ui_assets.h"

int main(void) {
    return ui_stylesheet_size() == 20 && ui_assets_count() == 2 ? 0 : 1;
}
