#include "engine/engine_version.h"

namespace vestrel {
const char* engine_version() {
    return "0.1.0";
}
} // namespace vestrel
