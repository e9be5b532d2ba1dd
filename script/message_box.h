// The message boxes that the script objects may show, through a view that the application provides.
// Without one, nothing is shown (and nothing is written to a console).
#pragma once

#include <string_view>

namespace vestrel {

class MessageBoxView {
public:
    virtual ~MessageBoxView() = default;
    // Shows a modal message box and returns the button pressed (1 OK, 2 Cancel). The style uses the
    // system's numbers: 0 OK only, 1 OK and Cancel, plus 16 for the error icon or 64 for the information
    // icon. An empty title stands for the system's default title.
    virtual int show_message_box(std::string_view text, std::string_view title, int style) = 0;
};

// The process-wide view; the application sets it at start (nullptr: no view). Safe from any thread.
void set_message_box_view(MessageBoxView* view);
MessageBoxView* message_box_view();

} // namespace vestrel
