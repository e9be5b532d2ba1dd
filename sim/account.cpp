#include "sim/account.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

namespace vestrel {

namespace {

constexpr std::int64_t default_mtime = 1600000000;

// A path the account may hold: "/" followed by non-empty names separated by single "/", no "." or ".."
// names and no NUL byte.
// The path as a message shows it: control characters (a NUL would end the message) as \xNN.
std::string printable(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void check_path(const std::string& path, const char* what) {
    auto fail = [&](const char* why) {
        throw AccountError(std::string(what) + " \"" + printable(path) + "\": " + why);
    };
    if (path.empty() || path[0] != '/')
        fail("a path must begin with \"/\"");
    if (path.size() == 1)
        fail("the root cannot be named here");
    if (path.find('\0') != std::string::npos)
        fail("a path cannot hold a NUL character");
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string_view name(path.data() + start, end - start);
        if (name.empty())
            fail("empty name in the path");
        if (name == "." || name == "..")
            fail("\".\" and \"..\" are not names");
        start = end + 1;
    }
}

std::string parent_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

void append_number(std::string& out, std::uint64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void append_number(std::string& out, std::int64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

} // namespace

std::uint64_t mix64(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

void append_json_string(std::string& out, std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
}

Account::Account() {
    nodes_.push_back(Node{});
    nodes_[0].dir = 0;
    nodes_[0].mtime = default_mtime;
    nodes_[0].fs_id = 1;
    dirs_.push_back(Dir{});
    dirs_[0].node = 0;
}

std::uint32_t Account::add_node(std::uint32_t parent, std::string_view name, std::string_view md5,
                                bool directory) {
    if (nodes_.size() >= none - 1)
        throw AccountError("too many entries");
    Node node;
    node.parent = parent;
    node.text = arena_.size();
    node.name_len = static_cast<std::uint32_t>(name.size());
    node.md5_len = static_cast<std::uint32_t>(md5.size());
    arena_.append(name);
    arena_.append(md5);
    std::uint32_t index = static_cast<std::uint32_t>(nodes_.size());
    if (directory) {
        node.dir = static_cast<std::uint32_t>(dirs_.size());
        dirs_.push_back(Dir{});
        dirs_.back().node = index;
        ++live_dirs_;
    } else {
        ++live_files_;
    }
    nodes_.push_back(node);
    dirs_[nodes_[parent].dir].by_name.push_back(index);
    return index;
}

std::string_view Account::name_of(std::uint32_t node) const {
    const Node& n = nodes_[node];
    return std::string_view(arena_.data() + n.text, n.name_len);
}

std::string_view Account::md5_of(std::uint32_t node) const {
    const Node& n = nodes_[node];
    return std::string_view(arena_.data() + n.text + n.name_len, n.md5_len);
}

std::string Account::path_of(std::uint32_t node) const {
    if (node == 0)
        return "/";
    std::vector<std::uint32_t> chain;
    for (std::uint32_t n = node; n != 0; n = nodes_[n].parent)
        chain.push_back(n);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        path += '/';
        path += name_of(*it);
    }
    return path;
}

bool Account::time_before(std::uint32_t a, std::uint32_t b) const {
    if (nodes_[a].mtime != nodes_[b].mtime)
        return nodes_[a].mtime > nodes_[b].mtime;
    return name_of(a) < name_of(b);
}

void Account::finish() {
    for (Dir& dir : dirs_) {
        std::sort(dir.by_name.begin(), dir.by_name.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return name_of(a) < name_of(b); });
        for (std::size_t i = 1; i < dir.by_name.size(); ++i) {
            if (name_of(dir.by_name[i - 1]) == name_of(dir.by_name[i]))
                throw AccountError("path \"" + path_of(dir.by_name[i]) + "\" is given twice");
        }
        dir.by_time = dir.by_name;
        std::sort(dir.by_time.begin(), dir.by_time.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return time_before(a, b); });
        dir.by_name.shrink_to_fit();
        dir.by_time.shrink_to_fit();
    }
}

std::uint32_t Account::child(std::uint32_t dir_node, std::string_view name) const {
    const Dir& dir = dirs_[nodes_[dir_node].dir];
    auto it = std::lower_bound(dir.by_name.begin(), dir.by_name.end(), name,
                               [&](std::uint32_t a, std::string_view n) { return name_of(a) < n; });
    if (it == dir.by_name.end() || name_of(*it) != name)
        return none;
    return *it;
}

std::uint32_t Account::find(std::string_view path) const {
    if (path.empty() || path[0] != '/')
        return none;
    if (path == "/")
        return 0;
    std::uint32_t node = 0;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        std::string_view name = path.substr(start, end - start);
        if (name.empty() || nodes_[node].dir == none)
            return none;
        node = child(node, name);
        if (node == none)
            return none;
        start = end + 1;
    }
    return node;
}

void Account::append_entry(std::string& out, std::uint32_t node, const std::string& dir_path) const {
    const Node& n = nodes_[node];
    bool directory = n.dir != none;
    out += "{\"fs_id\":";
    append_number(out, n.fs_id);
    out += ",\"path\":";
    std::string path = dir_path;
    if (path.size() > 1)
        path += '/';
    path += name_of(node);
    append_json_string(out, path);
    out += ",\"server_filename\":";
    append_json_string(out, name_of(node));
    out += directory ? ",\"isdir\":1,\"size\":" : ",\"isdir\":0,\"size\":";
    append_number(out, n.size);
    out += ",\"server_mtime\":";
    append_number(out, n.mtime);
    out += ",\"server_ctime\":";
    append_number(out, n.mtime);
    out += ",\"unlist\":0";
    if (!directory) {
        out += ",\"md5\":";
        append_json_string(out, md5_of(node));
    }
    out += '}';
}

std::size_t Account::append_listing(std::string& out, std::uint32_t dir_node, ListOrder order,
                                    bool descending, std::size_t page, std::size_t per_page) const {
    const Dir& dir = dirs_[nodes_[dir_node].dir];
    std::size_t total = dir.by_name.size();
    if (page == 0 || per_page == 0 || (page - 1) > total / per_page)
        return 0;
    std::size_t first = (page - 1) * per_page;
    if (first >= total)
        return 0;
    std::size_t last = std::min(total, first + per_page);

    std::vector<std::uint32_t> sorted;
    const std::vector<std::uint32_t>* sequence = nullptr;
    bool reverse = false;
    if (order == ListOrder::time && descending) {
        sequence = &dir.by_time;
    } else if (order == ListOrder::name) {
        sequence = &dir.by_name;
        reverse = descending;
    } else {
        // Ties are broken by name, ascending, whichever way the key runs.
        sorted = dir.by_name;
        auto key = [&](std::uint32_t a) -> std::int64_t {
            return order == ListOrder::time ? nodes_[a].mtime : static_cast<std::int64_t>(nodes_[a].size);
        };
        std::stable_sort(sorted.begin(), sorted.end(), [&](std::uint32_t a, std::uint32_t b) {
            return descending ? key(a) > key(b) : key(a) < key(b);
        });
        sequence = &sorted;
    }
    std::string dir_path = path_of(dir_node);
    for (std::size_t i = first; i < last; ++i) {
        if (i != first)
            out += ',';
        append_entry(out, (*sequence)[reverse ? total - 1 - i : i], dir_path);
    }
    return last - first;
}

void Account::remove(std::uint32_t node) {
    if (node == 0 || nodes_[node].deleted)
        return;
    RecycledEntry entry;
    entry.path = path_of(node);
    entry.is_directory = nodes_[node].dir != none;
    if (!entry.is_directory)
        entry.md5 = std::string(md5_of(node));

    // Take it out of its parent's lists.
    Dir& parent = dirs_[nodes_[nodes_[node].parent].dir];
    auto by_name = std::lower_bound(parent.by_name.begin(), parent.by_name.end(), name_of(node),
                                    [&](std::uint32_t a, std::string_view n) { return name_of(a) < n; });
    if (by_name != parent.by_name.end() && *by_name == node)
        parent.by_name.erase(by_name);
    auto by_time = std::find(parent.by_time.begin(), parent.by_time.end(), node);
    if (by_time != parent.by_time.end())
        parent.by_time.erase(by_time);

    // Mark everything below it gone.
    std::vector<std::uint32_t> pending{node};
    while (!pending.empty()) {
        std::uint32_t n = pending.back();
        pending.pop_back();
        Node& record = nodes_[n];
        record.deleted = true;
        if (record.dir == none) {
            --live_files_;
            ++entry.files;
            entry.size += record.size;
        } else {
            --live_dirs_;
            for (std::uint32_t c : dirs_[record.dir].by_name)
                pending.push_back(c);
        }
    }
    recycle_.push_back(std::move(entry));
}

void Account::collect(std::uint32_t root, std::vector<std::string>& out, bool directories) const {
    std::vector<std::pair<std::uint32_t, std::string>> pending{{root, path_of(root)}};
    while (!pending.empty()) {
        auto [node, path] = std::move(pending.back());
        pending.pop_back();
        for (std::uint32_t c : dirs_[nodes_[node].dir].by_name) {
            std::string child_path = path.size() > 1 ? path + "/" : path;
            child_path += name_of(c);
            if (nodes_[c].dir != none) {
                if (directories)
                    out.push_back(child_path);
                pending.emplace_back(c, std::move(child_path));
            } else if (!directories) {
                out.push_back(std::move(child_path));
            }
        }
    }
}

std::vector<std::string> Account::file_paths() const {
    std::vector<std::string> out;
    out.reserve(live_files_);
    collect(0, out, false);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Account::directory_paths() const {
    std::vector<std::string> out;
    collect(0, out, true);
    std::sort(out.begin(), out.end());
    return out;
}

PathFault* Account::fault_of(std::uint32_t node) {
    if (faults_.empty())
        return nullptr;
    auto it = faults_.find(node);
    return it == faults_.end() ? nullptr : &it->second;
}

std::size_t Account::memory_bytes() const {
    std::size_t bytes = nodes_.capacity() * sizeof(Node) + dirs_.capacity() * sizeof(Dir) + arena_.capacity();
    for (const Dir& dir : dirs_)
        bytes += (dir.by_name.capacity() + dir.by_time.capacity()) * sizeof(std::uint32_t);
    return bytes;
}

Account Account::from_json(std::string_view text) {
    using nlohmann::json;
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        throw AccountError(std::string("the account is not valid JSON: ") + e.what());
    }
    if (!doc.is_object())
        throw AccountError("the account must be a JSON object");

    Account account;
    auto text_of = [](const json& value, const std::string& what) -> std::string {
        if (!value.is_string())
            throw AccountError(what + " must be a text");
        return value.get<std::string>();
    };
    auto unsigned_of = [](const json& value, const std::string& what) -> std::uint64_t {
        if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<std::int64_t>() >= 0))
            throw AccountError(what + " must be a whole number of 0 or more");
        return value.get<std::uint64_t>();
    };
    auto integer_of = [](const json& value, const std::string& what) -> std::int64_t {
        if (!value.is_number_integer())
            throw AccountError(what + " must be a whole number");
        if (value.is_number_unsigned() &&
            value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw AccountError(what + " is too large");
        return value.get<std::int64_t>();
    };

    for (auto& [key, value] : doc.items()) {
        if (key != "user" && key != "password" && key != "files" && key != "dirs" && key != "faults")
            throw AccountError("unknown member \"" + key + "\" in the account");
    }
    if (doc.contains("user"))
        account.user = text_of(doc["user"], "\"user\"");
    if (doc.contains("password"))
        account.password = text_of(doc["password"], "\"password\"");

    std::unordered_map<std::string, std::uint32_t> dir_nodes{{"/", 0}};
    std::vector<bool> explicit_mtime{true};
    auto ensure_dir = [&](const std::string& path, auto& self) -> std::uint32_t {
        auto it = dir_nodes.find(path);
        if (it != dir_nodes.end())
            return it->second;
        std::uint32_t parent = self(parent_of(path), self);
        std::uint32_t node =
            account.add_node(parent, std::string_view(path).substr(path.rfind('/') + 1), {}, true);
        explicit_mtime.push_back(false);
        dir_nodes.emplace(path, node);
        return node;
    };

    if (doc.contains("dirs")) {
        if (!doc["dirs"].is_array())
            throw AccountError("\"dirs\" must be an array");
        for (const json& item : doc["dirs"]) {
            std::string path;
            const json* mtime = nullptr;
            if (item.is_object()) {
                if (!item.contains("path"))
                    throw AccountError("a directory object needs a \"path\"");
                path = text_of(item["path"], "a directory's \"path\"");
                if (item.contains("mtime"))
                    mtime = &item["mtime"];
            } else {
                path = text_of(item, "each of \"dirs\"");
            }
            check_path(path, "directory");
            std::uint32_t node = ensure_dir(path, ensure_dir);
            if (mtime) {
                account.nodes_[node].mtime = integer_of(*mtime, "mtime of " + path);
                explicit_mtime[node] = true;
            }
        }
    }

    if (doc.contains("files")) {
        if (!doc["files"].is_array())
            throw AccountError("\"files\" must be an array");
        for (const json& item : doc["files"]) {
            if (!item.is_object() || !item.contains("path"))
                throw AccountError("each file must be an object with a \"path\"");
            std::string path = text_of(item["path"], "a file's \"path\"");
            check_path(path, "file");
            for (auto& [key, value] : item.items()) {
                (void)value;
                if (key != "path" && key != "md5" && key != "size" && key != "mtime" && key != "fs_id")
                    throw AccountError("unknown member \"" + key + "\" of file " + path);
            }
            std::string md5;
            if (item.contains("md5")) {
                md5 = text_of(item["md5"], "md5 of " + path);
            } else {
                // No digest given: content of its own, so a digest of its own.
                static const char hex[] = "0123456789abcdef";
                std::uint64_t h = std::hash<std::string>{}(path);
                for (int i = 0; i < 32; ++i) {
                    if (i % 16 == 0)
                        h = mix64(h + static_cast<std::uint64_t>(i));
                    md5 += hex[(h >> ((i % 16) * 4)) & 15];
                }
            }
            std::uint32_t parent = ensure_dir(parent_of(path), ensure_dir);
            std::uint32_t node =
                account.add_node(parent, std::string_view(path).substr(path.rfind('/') + 1), md5, false);
            explicit_mtime.push_back(true);
            Node& record = account.nodes_[node];
            record.size = item.contains("size") ? unsigned_of(item["size"], "size of " + path) : 0;
            record.mtime =
                item.contains("mtime") ? integer_of(item["mtime"], "mtime of " + path) : default_mtime;
            if (item.contains("fs_id"))
                record.fs_id = unsigned_of(item["fs_id"], "fs_id of " + path);
        }
    }

    // Directories without a time of their own take their newest content's.
    for (std::size_t i = account.nodes_.size(); i-- > 1;) {
        Node& record = account.nodes_[i];
        if (!explicit_mtime[i] && record.mtime == 0)
            record.mtime = default_mtime;
        Node& parent = account.nodes_[record.parent];
        if (!explicit_mtime[record.parent])
            parent.mtime = std::max(parent.mtime, record.mtime);
    }
    for (std::size_t i = 0; i < account.nodes_.size(); ++i) {
        if (account.nodes_[i].fs_id == 0)
            account.nodes_[i].fs_id = 100000000000ull + i * 7 + 1;
    }
    account.finish();

    if (doc.contains("faults")) {
        if (!doc["faults"].is_object())
            throw AccountError("\"faults\" must be an object of paths");
        for (auto& [path, spec] : doc["faults"].items()) {
            std::uint32_t node = account.find(path);
            if (node == none)
                throw AccountError("fault for \"" + path + "\": no such file or directory in the account");
            if (!spec.is_object())
                throw AccountError("fault for \"" + path + "\" must be an object");
            PathFault fault;
            for (auto& [key, value] : spec.items()) {
                std::string what = "fault \"" + key + "\" of " + path;
                if (key == "errno") {
                    fault.has_errno = true;
                    fault.errno_value = static_cast<int>(integer_of(value, what));
                } else if (key == "body") {
                    fault.has_body = true;
                    fault.body = text_of(value, what);
                } else if (key == "status") {
                    std::int64_t status = integer_of(value, what);
                    if (status < 100 || status > 599)
                        throw AccountError(what + " must be an HTTP status (100 to 599)");
                    fault.status = static_cast<int>(status);
                } else if (key == "delay_ms") {
                    std::int64_t delay = integer_of(value, what);
                    if (delay < 0 || delay > 600000)
                        throw AccountError(what + " must be 0 to 600000");
                    fault.delay_ms = static_cast<int>(delay);
                } else if (key == "drop") {
                    if (!value.is_boolean())
                        throw AccountError(what + " must be true or false");
                    fault.drop = value.get<bool>();
                } else if (key == "times") {
                    std::int64_t times = integer_of(value, what);
                    if (times < 0 || times > std::numeric_limits<int>::max())
                        throw AccountError(what + " must be 0 or more");
                    fault.times = static_cast<int>(times);
                } else {
                    throw AccountError("unknown " + what);
                }
            }
            account.faults_.emplace(node, fault);
        }
    }
    return account;
}

std::string Account::to_json() const {
    std::string out = "{\"user\":";
    append_json_string(out, user);
    out += ",\"password\":";
    append_json_string(out, password);
    out += ",\"dirs\":[";
    bool first = true;
    std::vector<std::pair<std::uint32_t, std::string>> pending{{0, "/"}};
    std::string files;
    bool first_file = true;
    // Depth first, children by name: the same account always gives the same text.
    while (!pending.empty()) {
        auto [node, path] = std::move(pending.back());
        pending.pop_back();
        const Dir& dir = dirs_[nodes_[node].dir];
        for (auto it = dir.by_name.rbegin(); it != dir.by_name.rend(); ++it) {
            std::uint32_t c = *it;
            std::string child_path = path.size() > 1 ? path + "/" : path;
            child_path += name_of(c);
            if (nodes_[c].dir != none)
                pending.emplace_back(c, child_path);
        }
        for (std::uint32_t c : dir.by_name) {
            std::string child_path = path.size() > 1 ? path + "/" : path;
            child_path += name_of(c);
            const Node& n = nodes_[c];
            std::string& target = n.dir != none ? out : files;
            bool& is_first = n.dir != none ? first : first_file;
            if (!is_first)
                target += ',';
            is_first = false;
            target += "\n{\"path\":";
            append_json_string(target, child_path);
            if (n.dir == none) {
                target += ",\"md5\":";
                append_json_string(target, md5_of(c));
                target += ",\"size\":";
                append_number(target, n.size);
            }
            target += ",\"mtime\":";
            append_number(target, n.mtime);
            if (n.dir == none) {
                target += ",\"fs_id\":";
                append_number(target, n.fs_id);
            }
            target += '}';
        }
    }
    out += "],\"files\":[";
    out += files;
    out += "]";
    if (!faults_.empty()) {
        out += ",\"faults\":{";
        std::vector<std::pair<std::string, const PathFault*>> sorted;
        for (const auto& [node, fault] : faults_)
            sorted.emplace_back(path_of(node), &fault);
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            const PathFault& f = *sorted[i].second;
            if (i)
                out += ',';
            append_json_string(out, sorted[i].first);
            out += ":{\"delay_ms\":" + std::to_string(f.delay_ms);
            if (f.drop)
                out += ",\"drop\":true";
            if (f.has_body) {
                out += ",\"body\":";
                append_json_string(out, f.body);
                out += ",\"status\":" + std::to_string(f.status);
            }
            if (f.has_errno)
                out += ",\"errno\":" + std::to_string(f.errno_value);
            if (f.times >= 0)
                out += ",\"times\":" + std::to_string(f.times);
            out += '}';
        }
        out += '}';
    }
    out += "}\n";
    return out;
}

} // namespace vestrel
