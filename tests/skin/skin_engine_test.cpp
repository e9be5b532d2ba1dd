// The skin engine library under Wine: mapped from memory at a base other than its preferred one and, for
// comparison, loaded by the system; its export called with good and damaged skins; real windows skinned,
// reskinned and given back their own look when the library is released.

#include "app/skin_attachment.h"
#include "assets/constant_data.h"
#include "loader/memory_module.h"
#include "skin/skin_format.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace vestrel {
namespace {

using namespace vestrel::skin;

std::uint32_t image_field(std::uint32_t nt_offset_plus) {
    const auto image = assets::skin_library_image();
    const std::uint32_t nt = image[60] | image[61] << 8 | image[62] << 16 | image[63] << 24;
    const std::uint8_t* p = image.data() + nt + nt_offset_plus;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t preferred_base() {
    return image_field(52);
}
std::uint32_t image_size() {
    return image_field(80);
}

// One way of having the engine in the process.
class SkinLibrary {
public:
    virtual ~SkinLibrary() = default;
    virtual bool ready() const = 0;
    virtual std::uint32_t base() const = 0;
    virtual std::uint32_t attach_address() const = 0;
    virtual std::uint32_t attach(std::span<const std::uint8_t> skin) = 0;
    virtual bool release() = 0;
    virtual const char* kind() const = 0;
};

// Mapped from memory by our loader, with its preferred range taken so that it has to be relocated.
class MappedLibrary : public SkinLibrary {
public:
    MappedLibrary() {
        void* blocker =
            VirtualAlloc(host_pointer(preferred_base()), image_size(), MEM_RESERVE, PAGE_NOACCESS);
        loaded_ = module_.load(assets::skin_library_image());
        if (blocker != nullptr)
            VirtualFree(blocker, 0, MEM_RELEASE);
        blocked_ = blocker != nullptr;
    }
    ~MappedLibrary() override { module_.unload(); }
    bool ready() const override { return loaded_; }
    bool relocated() const { return blocked_ && module_.get_module_base() != preferred_base(); }
    std::uint32_t base() const override { return module_.get_module_base(); }
    std::uint32_t attach_address() const override { return module_.get_export("SkinH_AttachRes"); }
    std::uint32_t attach(std::span<const std::uint8_t> skin) override {
        return static_cast<std::uint32_t>(attach_skin(module_, skin, "", 0, 0, 0));
    }
    bool release() override { return module_.unload(); }
    const char* kind() const override { return "mapped from memory"; }

private:
    MemoryModule module_;
    bool loaded_ = false;
    bool blocked_ = false;
};

// Loaded by the system from a file holding the same bytes.
class SystemLibrary : public SkinLibrary {
public:
    SystemLibrary() {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        path_ = std::wstring(folder) + L"vestrel_skin_" + std::to_wstring(GetCurrentProcessId()) + L".dll";
        const auto image = assets::skin_library_image();
        {
            std::ofstream out(path_.c_str(), std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(image.data()),
                      static_cast<std::streamsize>(image.size()));
        }
        module_ = LoadLibraryW(path_.c_str());
    }
    ~SystemLibrary() override {
        release();
        DeleteFileW(path_.c_str());
    }
    bool ready() const override { return module_ != nullptr; }
    std::uint32_t base() const override {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(module_));
    }
    std::uint32_t attach_address() const override {
        return module_ == nullptr ? 0
                                  : static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(
                                        GetProcAddress(module_, "SkinH_AttachRes")));
    }
    std::uint32_t attach(std::span<const std::uint8_t> skin) override {
        return call_address(attach_address(),
                            {constant_address(skin), static_cast<std::uint32_t>(skin.size()), 0, 0, 0, 0});
    }
    bool release() override {
        const bool freed = module_ != nullptr && FreeLibrary(module_) != 0;
        module_ = nullptr;
        return freed;
    }
    const char* kind() const override { return "loaded by the system"; }

private:
    std::wstring path_;
    HMODULE module_ = nullptr;
};

std::vector<std::unique_ptr<SkinLibrary>> both_kinds() {
    std::vector<std::unique_ptr<SkinLibrary>> out;
    out.push_back(std::make_unique<MappedLibrary>());
    out.push_back(std::make_unique<SystemLibrary>());
    return out;
}

SkinTheme theme_of(std::span<const std::uint8_t> skin) {
    SkinTheme theme{};
    EXPECT_EQ(read_skin(skin.data(), static_cast<std::uint32_t>(skin.size()), theme), skin_attached);
    return theme;
}

std::vector<std::uint8_t> damaged(std::span<const std::uint8_t> skin, std::size_t at) {
    std::vector<std::uint8_t> copy(skin.begin(), skin.end());
    copy[at] ^= 0x5A;
    return copy;
}

TEST(SkinEngine, MapsAwayFromItsPreferredBaseAndAnswersAsTheSystemLoadedLibraryDoes) {
    // Damaged skins live for the whole test: the engine may keep the address it is given.
    static const auto bad_magic = damaged(assets::login_skin(), 0);
    static const auto bad_checksum = damaged(assets::login_skin(), 40);
    static const std::vector<std::uint8_t> short_skin(assets::login_skin().begin(),
                                                      assets::login_skin().begin() + 10);
    std::vector<std::vector<std::uint32_t>> answers;
    std::vector<std::uint32_t> export_offsets;
    for (auto& library : both_kinds()) {
        SCOPED_TRACE(library->kind());
        ASSERT_TRUE(library->ready());
        if (auto* mapped = dynamic_cast<MappedLibrary*>(library.get())) {
            EXPECT_TRUE(mapped->relocated()) << "base " << std::hex << mapped->base();
        }
        ASSERT_NE(library->attach_address(), 0u);
        export_offsets.push_back(library->attach_address() - library->base());
        answers.push_back({library->attach(assets::login_skin()), library->attach(bad_magic),
                           library->attach(bad_checksum), library->attach(short_skin),
                           library->attach(std::span<const std::uint8_t>()),
                           library->attach(assets::donation_skin())});
        EXPECT_TRUE(library->release());
    }
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], (std::vector<std::uint32_t>{skin_attached, skin_bad_magic, skin_bad_checksum,
                                                      skin_too_short, skin_no_data, skin_attached}));
    EXPECT_EQ(answers[0], answers[1]);
    EXPECT_EQ(export_offsets[0], export_offsets[1]);
}

TEST(SkinEngine, MappedLibraryIsReleasedAndCanBeMappedAgain) {
    MemoryModule module;
    ASSERT_TRUE(module.load(assets::skin_library_image()));
    const Address first = module.get_module_base();
    EXPECT_EQ(attach_skin(module, assets::login_skin(), "", 0, 0, 0), 0);
    ASSERT_TRUE(module.unload());
    MEMORY_BASIC_INFORMATION info{};
    VirtualQuery(host_pointer(first), &info, sizeof info);
    // Free again, or back in a larger reservation of the system's (Wine keeps some for libraries).
    EXPECT_TRUE(info.State == MEM_FREE ||
                (info.State == MEM_RESERVE && info.AllocationBase != host_pointer(first)))
        << std::hex << info.State << " " << info.AllocationBase;
    ASSERT_TRUE(module.load(assets::skin_library_image()));
    EXPECT_EQ(attach_skin(module, assets::donation_skin(), "", 0, 0, 0), 0);
    EXPECT_TRUE(module.unload());
}

// Windows of the test: a frame with a label, a push button, an edit box and a check box.
LRESULT CALLBACK frame_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcW(window, message, wparam, lparam);
}

struct TestWindows {
    HWND frame = nullptr, label = nullptr, button = nullptr, edit = nullptr, check = nullptr,
         other_frame = nullptr;
    HFONT own_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

    bool create() {
        WNDCLASSW kind{};
        kind.lpfnWndProc = frame_procedure;
        kind.hInstance = GetModuleHandleW(nullptr);
        kind.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        kind.lpszClassName = L"VestrelSkinTestFrame";
        RegisterClassW(&kind);
        frame = CreateWindowExW(0, kind.lpszClassName, L"skin test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                320, 200, nullptr, nullptr, kind.hInstance, nullptr);
        if (frame == nullptr)
            return false;
        other_frame = CreateWindowExW(0, kind.lpszClassName, L"second", WS_OVERLAPPEDWINDOW, 400, 10, 100,
                                      100, nullptr, nullptr, kind.hInstance, nullptr);
        label = child(L"Static", L"Threads", 0, 10, 20);
        button = child(L"Button", L"Start", BS_PUSHBUTTON, 10, 60);
        edit = child(L"Edit", L"20", WS_BORDER | ES_LEFT, 10, 100);
        check = child(L"Button", L"Skip errors", BS_AUTOCHECKBOX, 10, 140);
        pump();
        return true;
    }
    HWND child(const wchar_t* kind, const wchar_t* text, DWORD style, int x, int y) const {
        HWND w = CreateWindowExW(0, kind, text, WS_CHILD | WS_VISIBLE | style, x, y, 120, 30, frame, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(own_font), FALSE);
        return w;
    }
    static void pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    ~TestWindows() {
        if (other_frame != nullptr)
            DestroyWindow(other_frame);
        if (frame != nullptr)
            DestroyWindow(frame);
        pump();
    }
};

// Draws into a memory bitmap through a message and reads one pixel back.
class Canvas {
public:
    Canvas() {
        HDC screen = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen);
        bitmap_ = CreateCompatibleBitmap(screen, 200, 80);
        ReleaseDC(nullptr, screen);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    COLORREF erased(HWND window, int x, int y) {
        clear();
        SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc_), 0);
        return GetPixel(dc_, x, y);
    }
    COLORREF printed(HWND window, int x, int y) {
        clear();
        SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc_), PRF_CLIENT | PRF_ERASEBKGND);
        return GetPixel(dc_, x, y);
    }

private:
    void clear() {
        RECT all{0, 0, 200, 80};
        FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
};

LOGFONTW font_of(HWND window) {
    LOGFONTW face{};
    const auto font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    if (font != nullptr)
        GetObjectW(font, sizeof face, &face);
    return face;
}

TEST(SkinWindow, SkinsEveryWindowOfTheThreadReskinsAndGivesTheLookBackOnRelease) {
    const SkinTheme login = theme_of(assets::login_skin());
    const SkinTheme donation = theme_of(assets::donation_skin());
    static const auto bad = damaged(assets::donation_skin(), 0);
    for (auto& library : both_kinds()) {
        SCOPED_TRACE(library->kind());
        TestWindows w;
        if (!w.create()) {
            ASSERT_EQ(std::getenv("VESTREL_REQUIRE_DISPLAY"), nullptr) << "no window on the display";
            GTEST_SKIP() << "no display: windows cannot be created (run through run-on-display)";
        }
        ASSERT_TRUE(library->ready());
        Canvas canvas;
        const LONG_PTR own_procedure = GetWindowLongPtrW(w.frame, GWLP_WNDPROC);
        const COLORREF own_background = canvas.erased(w.frame, 20, 30);
        ASSERT_NE(own_background, login.colours[window_background]);

        ASSERT_EQ(library->attach(assets::login_skin()), skin_attached);
        EXPECT_EQ(canvas.erased(w.frame, 20, 30), login.colours[window_background]);
        EXPECT_EQ(canvas.erased(w.frame, 20, 1), login.colours[accent]) << "the accent band";
        EXPECT_EQ(canvas.erased(w.other_frame, 20, 30), login.colours[window_background]);
        EXPECT_EQ(canvas.printed(w.button, 4, 4), login.colours[button_face]);
        SendMessageW(w.frame, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(canvas.dc()),
                     reinterpret_cast<LPARAM>(w.edit));
        EXPECT_EQ(GetTextColor(canvas.dc()), login.colours[edit_text]);
        EXPECT_EQ(GetBkColor(canvas.dc()), login.colours[edit_background]);
        SendMessageW(w.frame, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(canvas.dc()),
                     reinterpret_cast<LPARAM>(w.check));
        EXPECT_EQ(GetTextColor(canvas.dc()), login.colours[window_text]);
        EXPECT_EQ(std::wstring(font_of(w.label).lfFaceName), L"Tahoma");
        EXPECT_EQ(font_of(w.label).lfHeight, login.font_height);
        // A window made after the attach is skinned from its creation; a font the program sets gives way.
        HWND later = w.child(L"Button", L"Later", BS_PUSHBUTTON, 150, 60);
        EXPECT_EQ(font_of(later).lfHeight, login.font_height);
        EXPECT_EQ(canvas.printed(later, 4, 4), login.colours[button_face]);
        TestWindows::pump();

        ASSERT_EQ(library->attach(assets::donation_skin()), skin_attached);
        EXPECT_EQ(canvas.erased(w.frame, 20, 30), donation.colours[window_background]);
        EXPECT_EQ(canvas.printed(w.button, 4, 4), donation.colours[button_face]);
        EXPECT_EQ(font_of(w.edit).lfWeight, donation.font_weight);

        EXPECT_EQ(library->attach(bad), skin_bad_magic);
        EXPECT_EQ(canvas.erased(w.frame, 20, 30), donation.colours[window_background])
            << "a refused skin changes nothing";
        RedrawWindow(w.frame, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        TestWindows::pump();

        ASSERT_TRUE(library->release());
        EXPECT_EQ(GetWindowLongPtrW(w.frame, GWLP_WNDPROC), own_procedure);
        EXPECT_EQ(canvas.erased(w.frame, 20, 30), own_background);
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(w.label, WM_GETFONT, 0, 0)), w.own_font);
        // Every window still works with the library's memory gone.
        RedrawWindow(w.frame, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        SendMessageW(w.button, BM_CLICK, 0, 0);
        TestWindows::pump();
        DestroyWindow(later);
    }
}

} // namespace
} // namespace vestrel
