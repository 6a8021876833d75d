#include "memo.hpp"

#include <cstdlib>
#include <cstring>

namespace tolvat {

bool memos_enabled() noexcept {
    // Initialised once, thread-safely; read-only afterwards.
    static const bool enabled = [] {
        const char* setting = std::getenv("TOLVAT_MEMO");
        return setting == nullptr || std::strcmp(setting, "0") != 0;
    }();
    return enabled;
}

}  // namespace tolvat
