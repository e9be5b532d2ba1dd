// Linux: the process's in-memory store stands where the browser control's store will.
#include "web/cookie_store.h"

namespace vestrel {

CookieStore& system_cookie_store() {
    static std::unique_ptr<CookieStore> store = make_memory_cookie_store();
    return *store;
}

} // namespace vestrel
