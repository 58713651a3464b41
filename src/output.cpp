// The header's way to its path, as every host takes it; each host's platform file creates the
// temporary, puts it over the target and removes it.
#include "platform.hpp"

#include <utility>

namespace vormesta::platform {

bool Output::commit() {
    std::FILE* const file = std::exchange(file_, nullptr);
    const bool written = std::fflush(file) == 0 && !std::ferror(file);
    const bool closed = std::fclose(file) == 0;
    if (written && closed && (temporary_.empty() || replace_target()))
        return true;
    discard();
    return false;
}

void Output::discard() {
    if (file_)
        std::fclose(std::exchange(file_, nullptr));
    if (!temporary_.empty())
        remove_temporary();
}

} // namespace vormesta::platform
