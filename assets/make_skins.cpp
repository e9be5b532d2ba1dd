// Writes the program's two skin files, login_skin.she and donation_skin.she, into the folder given.

#include "skin/skin_file.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

using namespace vestrel::skin;

SkinDescription harbour() {
    SkinDescription s;
    s.name = "Harbour";
    s.colours[window_background] = rgb(0x1F, 0x2A, 0x38);
    s.colours[window_text] = rgb(0xE6, 0xED, 0xF3);
    s.colours[button_face] = rgb(0x2F, 0x6F, 0xB5);
    s.colours[button_text] = rgb(0xFF, 0xFF, 0xFF);
    s.colours[button_border] = rgb(0x17, 0x45, 0x7A);
    s.colours[button_pressed] = rgb(0x25, 0x58, 0x92);
    s.colours[edit_background] = rgb(0x12, 0x1A, 0x24);
    s.colours[edit_text] = rgb(0xCF, 0xE3, 0xFF);
    s.colours[accent] = rgb(0x4F, 0xC3, 0xF7);
    s.font_height = -13;
    s.font_weight = 400;
    s.font_face = u"Tahoma";
    s.band_height = 4;
    return s;
}

SkinDescription ember() {
    SkinDescription s;
    s.name = "Ember";
    s.colours[window_background] = rgb(0xFF, 0xF4, 0xE6);
    s.colours[window_text] = rgb(0x4A, 0x2C, 0x16);
    s.colours[button_face] = rgb(0xE0, 0x6C, 0x2C);
    s.colours[button_text] = rgb(0xFF, 0xFF, 0xFF);
    s.colours[button_border] = rgb(0xA8, 0x48, 0x14);
    s.colours[button_pressed] = rgb(0xC0, 0x58, 0x20);
    s.colours[edit_background] = rgb(0xFF, 0xFF, 0xFF);
    s.colours[edit_text] = rgb(0x4A, 0x2C, 0x16);
    s.colours[accent] = rgb(0xF2, 0xA1, 0x3B);
    s.font_height = -13;
    s.font_weight = 700;
    s.font_face = u"Tahoma";
    s.band_height = 6;
    return s;
}

bool write(const std::string& path, const SkinDescription& skin) {
    const auto bytes = encode_skin(skin);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_skins <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    if (!write(folder + "/login_skin.she", harbour()) || !write(folder + "/donation_skin.she", ember())) {
        std::fprintf(stderr, "make_skins: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
