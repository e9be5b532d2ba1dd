#include "script/message_box.h"

#include <atomic>

namespace vestrel {

namespace {
std::atomic<MessageBoxView*> installed_view{nullptr};
}

void set_message_box_view(MessageBoxView* view) {
    installed_view.store(view, std::memory_order_release);
}

MessageBoxView* message_box_view() {
    return installed_view.load(std::memory_order_acquire);
}

} // namespace vestrel
