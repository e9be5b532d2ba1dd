// The skin engine: a 32-bit Windows library built without a C runtime (its own entry point, no thread-local
// data, no constructors to run), exporting one routine, SkinH_AttachRes. An attached skin themes every
// window of the attaching thread and those created on it later: background, text and control colours, the
// font, and push buttons drawn in the skin's colours. Attaching another skin replaces it; a skin that does
// not read is refused and changes nothing. Detaching the library (process detach) gives every window its
// own window procedure and font back, so the library's memory can be released.

#include "skin/skin_format.h"

#include <windows.h>

using namespace vestrel::skin;

// The compiler may emit calls to these for structure copies; there is no C runtime to provide them.
extern "C" void* memset(void* target, int value, size_t count) {
    auto* p = static_cast<unsigned char*>(target);
    while (count-- != 0)
        *p++ = static_cast<unsigned char>(value);
    return target;
}

extern "C" void* memcpy(void* target, const void* source, size_t count) {
    auto* p = static_cast<unsigned char*>(target);
    const auto* q = static_cast<const unsigned char*>(source);
    while (count-- != 0)
        *p++ = *q++;
    return target;
}

namespace {

const wchar_t proc_property[] = L"VestrelSkin.Proc"; // the window's own procedure
const wchar_t font_property[] = L"VestrelSkin.Font"; // the font the window would have without the skin

struct Engine {
    SkinTheme theme;
    bool attached;
    HBRUSH brushes[colour_count];
    HFONT font;
    HHOOK hook;
    DWORD thread;
};

// Zero-initialised static data: nothing runs before the entry point.
Engine engine;

LRESULT CALLBACK skin_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

WNDPROC own_procedure(HWND window) {
    return reinterpret_cast<WNDPROC>(reinterpret_cast<LONG_PTR>(GetPropW(window, proc_property)));
}

bool class_is(HWND window, const wchar_t* name) {
    wchar_t class_name[64];
    if (GetClassNameW(window, class_name, 64) == 0)
        return false;
    return lstrcmpiW(class_name, name) == 0;
}

bool class_starts_with(HWND window, const wchar_t* prefix) {
    wchar_t class_name[64];
    if (GetClassNameW(window, class_name, 64) == 0)
        return false;
    for (int i = 0; prefix[i] != 0; ++i) {
        if (class_name[i] != prefix[i])
            return false;
    }
    return true;
}

bool is_push_button(HWND window) {
    if (!class_is(window, L"Button"))
        return false;
    const LONG type = GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// Windows whose background is the skin's: top-level windows, dialogs and the program's own child windows,
// but not the system's controls, which paint themselves with the colours their parent hands them.
bool is_container(HWND window) {
    if ((GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0 || class_is(window, L"#32770"))
        return true;
    static const wchar_t* const controls[] = {L"Button",   L"Edit",      L"Static",    L"ListBox",
                                              L"ComboBox", L"ComboLBox", L"ScrollBar", L"AtlAxWin"};
    for (const wchar_t* name : controls) {
        if (class_is(window, name))
            return false;
    }
    static const wchar_t* const families[] = {L"msctls_", L"Sys", L"RichEdit", L"Internet Explorer",
                                              L"Shell "};
    for (const wchar_t* prefix : families) {
        if (class_starts_with(window, prefix))
            return false;
    }
    return true;
}

COLORREF colour(ColourRole role) {
    return engine.theme.colours[role];
}

void paint_background(HWND window, HDC dc) {
    RECT area;
    GetClientRect(window, &area);
    FillRect(dc, &area, engine.brushes[window_background]);
    if ((GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0 && engine.theme.band_height != 0) {
        RECT band = area;
        band.bottom = band.top + static_cast<LONG>(engine.theme.band_height);
        FillRect(dc, &band, engine.brushes[accent]);
    }
}

void draw_button(HWND window, HDC dc) {
    RECT area;
    GetClientRect(window, &area);
    const LRESULT state = CallWindowProcW(own_procedure(window), window, BM_GETSTATE, 0, 0);
    const bool pressed = (state & BST_PUSHED) != 0;
    const bool enabled = IsWindowEnabled(window) != 0;
    const bool marked =
        GetFocus() == window || (GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;

    FillRect(dc, &area, engine.brushes[pressed ? button_pressed : button_face]);
    FrameRect(dc, &area, engine.brushes[button_border]);
    if (marked) {
        RECT inner = area;
        InflateRect(&inner, -1, -1);
        FrameRect(dc, &inner, engine.brushes[accent]);
    }
    wchar_t text[256];
    const int length = GetWindowTextW(window, text, 256);
    const HGDIOBJ previous = SelectObject(dc, engine.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, enabled ? colour(button_text) : colour(button_border));
    if (pressed)
        OffsetRect(&area, 1, 1);
    DrawTextW(dc, text, length, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, previous);
}

LRESULT control_colours(UINT message, HDC dc, HWND control) {
    ColourRole text = window_text;
    ColourRole back = window_background;
    if (message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX ||
        (message == WM_CTLCOLORSTATIC && class_is(control, L"Edit"))) {
        text = edit_text;
        back = edit_background;
    } else if (message == WM_CTLCOLORBTN) {
        text = button_text;
        back = button_face;
    }
    SetTextColor(dc, colour(text));
    SetBkColor(dc, colour(back));
    return reinterpret_cast<LRESULT>(engine.brushes[back]);
}

LRESULT CALLBACK skin_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const WNDPROC own = own_procedure(window);
    if (own == nullptr)
        return DefWindowProcW(window, message, wparam, lparam);
    if (engine.attached) {
        switch (message) {
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            return control_colours(message, reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
        case WM_ERASEBKGND:
            if (is_push_button(window))
                return 1;
            if (is_container(window)) {
                paint_background(window, reinterpret_cast<HDC>(wparam));
                return 1;
            }
            break;
        case WM_PAINT:
            if (is_push_button(window)) {
                PAINTSTRUCT paint;
                HDC dc = BeginPaint(window, &paint);
                draw_button(window, dc);
                EndPaint(window, &paint);
                return 0;
            }
            break;
        case WM_PRINTCLIENT:
            if (is_push_button(window)) {
                draw_button(window, reinterpret_cast<HDC>(wparam));
                return 0;
            }
            break;
        case WM_SETFONT:
            // The window's own font is kept for when the skin goes; the skin's is the one it gets.
            SetPropW(window, font_property, reinterpret_cast<HANDLE>(wparam));
            wparam = reinterpret_cast<WPARAM>(engine.font);
            break;
        case WM_CREATE: {
            const LRESULT result = CallWindowProcW(own, window, message, wparam, lparam);
            if (result != -1)
                CallWindowProcW(own, window, WM_SETFONT, reinterpret_cast<WPARAM>(engine.font), FALSE);
            return result;
        }
        default:
            break;
        }
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
        RemovePropW(window, proc_property);
        RemovePropW(window, font_property);
        return CallWindowProcW(own, window, message, wparam, lparam);
    }
    const LRESULT result = CallWindowProcW(own, window, message, wparam, lparam);
    // The system's button draws its state changes at once; draw over them in the skin's colours.
    if (engine.attached &&
        (message == BM_SETSTATE || message == WM_SETFOCUS || message == WM_KILLFOCUS ||
         message == WM_ENABLE || message == WM_SETTEXT || message == BM_SETSTYLE ||
         message == WM_LBUTTONUP) &&
        is_push_button(window))
        InvalidateRect(window, nullptr, FALSE);
    return result;
}

// Puts the skin's procedure in front of the window's own. When the window exists already it gets the
// skin's font and is drawn again.
void skin_window(HWND window, bool existing) {
    if (own_procedure(window) == nullptr) {
        const LONG_PTR own = GetWindowLongPtrW(window, GWLP_WNDPROC);
        if (own == 0 || own == reinterpret_cast<LONG_PTR>(&skin_procedure))
            return;
        if (existing)
            SetPropW(window, font_property, reinterpret_cast<HANDLE>(SendMessageW(window, WM_GETFONT, 0, 0)));
        SetPropW(window, proc_property, reinterpret_cast<HANDLE>(own));
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&skin_procedure));
    }
    if (existing) {
        CallWindowProcW(own_procedure(window), window, WM_SETFONT, reinterpret_cast<WPARAM>(engine.font),
                        FALSE);
        RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME);
    }
}

// Gives the window its own procedure and font back. A window subclassed again after the skin keeps the
// skin's procedure in its chain; it cannot be taken out from under the later one.
void unskin_window(HWND window) {
    const WNDPROC own = own_procedure(window);
    if (own == nullptr ||
        GetWindowLongPtrW(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&skin_procedure))
        return;
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
    const HANDLE font = GetPropW(window, font_property);
    RemovePropW(window, proc_property);
    RemovePropW(window, font_property);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE, SMTO_ABORTIFHUNG, 500,
                        &ignored);
    RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME);
}

BOOL CALLBACK skin_child(HWND window, LPARAM) {
    skin_window(window, true);
    return TRUE;
}

BOOL CALLBACK skin_top(HWND window, LPARAM) {
    skin_window(window, true);
    EnumChildWindows(window, skin_child, 0);
    return TRUE;
}

BOOL CALLBACK unskin_child(HWND window, LPARAM) {
    unskin_window(window);
    return TRUE;
}

BOOL CALLBACK unskin_top(HWND window, LPARAM) {
    EnumChildWindows(window, unskin_child, 0);
    unskin_window(window);
    return TRUE;
}

// New windows of the skinned thread get the skin's procedure before their first message.
LRESULT CALLBACK creation_hook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND && engine.attached)
        skin_window(reinterpret_cast<HWND>(wparam), false);
    return CallNextHookEx(engine.hook, code, wparam, lparam);
}

void delete_objects(HBRUSH* brushes, HFONT font) {
    for (uint32_t i = 0; i < colour_count; ++i) {
        if (brushes[i] != nullptr)
            DeleteObject(brushes[i]);
        brushes[i] = nullptr;
    }
    if (font != nullptr)
        DeleteObject(font);
}

void release_engine() {
    if (engine.hook != nullptr)
        UnhookWindowsHookEx(engine.hook);
    engine.hook = nullptr;
    if (engine.attached) {
        EnumThreadWindows(engine.thread, unskin_top, 0);
        engine.attached = false;
        delete_objects(engine.brushes, engine.font);
        engine.font = nullptr;
    }
}

} // namespace

// skin, length: the skin file. password: ignored (the skins of this format are not protected); the three
// integers are reserved. Returns a SkinResult: 0 when the skin is attached.
extern "C" __declspec(dllexport) uint32_t
    __stdcall SkinH_AttachRes(const uint8_t* skin, uint32_t length, const char* password, int32_t, int32_t,
                              int32_t) {
    (void)password;
    SkinTheme theme;
    const SkinResult read = read_skin(skin, length, theme);
    if (read != skin_attached)
        return read;

    HBRUSH brushes[colour_count];
    bool made = true;
    for (uint32_t i = 0; i < colour_count; ++i) {
        brushes[i] = CreateSolidBrush(theme.colours[i]);
        made = made && brushes[i] != nullptr;
    }
    LOGFONTW face;
    memset(&face, 0, sizeof face);
    face.lfHeight = theme.font_height;
    face.lfWeight = theme.font_weight;
    face.lfItalic = theme.font_italic;
    face.lfCharSet = DEFAULT_CHARSET;
    for (uint32_t i = 0; i < face_capacity; ++i)
        face.lfFaceName[i] = static_cast<wchar_t>(theme.font_face[i]);
    HFONT font = CreateFontIndirectW(&face);
    const DWORD thread = GetCurrentThreadId();
    HHOOK hook = engine.hook;
    if (made && font != nullptr && (hook == nullptr || engine.thread != thread))
        hook = SetWindowsHookExW(WH_CBT, creation_hook, nullptr, thread);
    if (!made || font == nullptr || hook == nullptr) {
        delete_objects(brushes, font);
        return skin_system_refused;
    }
    if (hook != engine.hook) {
        if (engine.attached && engine.thread != thread)
            EnumThreadWindows(engine.thread, unskin_top, 0);
        if (engine.hook != nullptr)
            UnhookWindowsHookEx(engine.hook);
    }

    HBRUSH old_brushes[colour_count];
    for (uint32_t i = 0; i < colour_count; ++i) {
        old_brushes[i] = engine.brushes[i];
        engine.brushes[i] = brushes[i];
    }
    const HFONT old_font = engine.font;
    engine.theme = theme;
    engine.font = font;
    engine.hook = hook;
    engine.thread = thread;
    engine.attached = true;
    EnumThreadWindows(thread, skin_top, 0);
    delete_objects(old_brushes, old_font);
    return skin_attached;
}

// A detach with a reserved value that is not 0 comes at process end, when the windows go with the process
// and other threads may be gone mid-message: nothing is undone then.
extern "C" BOOL WINAPI skin_entry(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        release_engine();
    return TRUE;
}
