#include "sim/service_pages.h"

#include "sim/account.h"

namespace vestrel {

std::string html_escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

const char* page_head = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";

const char* page_style = R"(<style>
body { margin: 0; font-family: sans-serif; background: #f4f6f9; color: #223; }
.page { position: relative; width: 1160px; min-height: 540px; background: #fff; }
.bar { height: 56px; background: #2d5fa8; color: #fff; position: relative; }
.logo { position: absolute; left: 20px; top: 14px; font-size: 22px; font-weight: bold; }
.avatar { position: absolute; right: 12px; top: 8px; width: 40px; height: 40px; border-radius: 20px;
          background: #f2b134; color: #223; font-size: 20px; line-height: 40px; text-align: center; }
.user { position: absolute; right: 62px; top: 18px; }
.login { position: absolute; left: 600px; top: 110px; width: 400px; padding: 24px; border: 1px solid #ccd; }
.login input { display: block; width: 100%; margin: 6px 0 14px; padding: 6px; box-sizing: border-box; }
.message { color: #b22; }
table { margin: 20px 0 0 560px; border-collapse: collapse; width: 580px; }
td, th { text-align: left; padding: 4px 8px; border-bottom: 1px solid #eee; }
</style>
)";

// The first character of a name, as UTF-8 (one code point), for the avatar.
std::string initial_of(const std::string& user) {
    if (user.empty())
        return "?";
    std::size_t length = 1;
    unsigned char c = static_cast<unsigned char>(user[0]);
    if (c >= 0xf0)
        length = 4;
    else if (c >= 0xe0)
        length = 3;
    else if (c >= 0xc0)
        length = 2;
    return user.substr(0, std::min(length, user.size()));
}

} // namespace

std::string login_page(const std::string& message) {
    std::string page = page_head;
    page += "<title>Nimbara - sign in</title>\n";
    page += page_style;
    page += "</head>\n<body>\n<div class=\"page\">\n<div class=\"bar\"><span "
            "class=\"logo\">Nimbara</span></div>\n";
    page += "<form class=\"login\" method=\"post\" action=\"/passport/login\">\n<h2>Sign in</h2>\n";
    if (!message.empty())
        page += "<p class=\"message\">" + html_escape(message) + "</p>\n";
    page += "<label>User name <input type=\"text\" name=\"username\" autofocus></label>\n";
    page += "<label>Password <input type=\"password\" name=\"password\"></label>\n";
    page += "<button type=\"submit\">Sign in</button>\n</form>\n</div>\n</body>\n</html>\n";
    return page;
}

std::string home_page(const std::string& user, const std::string& token,
                      const std::vector<HomeEntry>& entries) {
    std::string page = page_head;
    page += "<title>Nimbara - my disk</title>\n";
    page += page_style;
    // The context object: JSON, with "</" written "<\/" so that no name can end the script element.
    std::string context = "{\"username\":";
    append_json_string(context, user);
    context += ",\"bdstoken\":";
    append_json_string(context, token);
    context += ",\"loginstate\":1}";
    std::string safe;
    for (std::size_t i = 0; i < context.size(); ++i) {
        if (context[i] == '<' && i + 1 < context.size() && context[i + 1] == '/')
            safe += "<\\";
        else
            safe += context[i];
    }
    page += "<script>\nvar context = " + safe + ";\n</script>\n";
    page += "</head>\n<body>\n<div class=\"page\">\n<div class=\"bar\"><span class=\"logo\">Nimbara</span>";
    page += "<span class=\"user\">" + html_escape(user) + "</span>";
    page += "<span class=\"avatar\" title=\"" + html_escape(user) + "\">" + html_escape(initial_of(user)) +
            "</span></div>\n";
    page += "<table>\n<tr><th>Name</th><th>Size</th><th>Modified</th></tr>\n";
    for (const HomeEntry& e : entries) {
        page += "<tr><td>" + html_escape(e.name) + (e.is_directory ? "/" : "") + "</td><td>" +
                (e.is_directory ? std::string("-") : std::to_string(e.size)) + "</td><td>" +
                std::to_string(e.mtime) + "</td></tr>\n";
    }
    page += "</table>\n</div>\n</body>\n</html>\n";
    return page;
}

} // namespace vestrel
