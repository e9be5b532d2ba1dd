#include "script/xml_document.h"

#include "script/message_box.h"
#include "script/utf8_text.h"

#include <pugixml.hpp>

#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

namespace vestrel {

namespace xml_detail {

// One document and everything that refers into it. Nodes are never freed while the document lives:
// a node taken out of the tree moves under `limbo`, a top-level element that no path, text or output
// ever shows, so every XmlNode handed out stays valid. Attributes cannot move between elements, so an
// attribute taken off an element is copied to `loose` and the references to it follow the copy.
struct DocState {
    pugi::xml_document doc;
    pugi::xml_node limbo;
    pugi::xml_node loose;
    std::string url;
    std::unordered_set<XmlNode::Ref*> attribute_refs;

    // Any change but an attribute attach moves the version on and so retires the name index below.
    std::uint64_t version = 0;
    pugi::xml_node indexed;
    std::uint64_t indexed_version = 0;
    std::unordered_map<std::string, pugi::xml_attribute> index;

    void touch() { ++version; }

    pugi::xml_node limbo_node() {
        if (!limbo) {
            limbo = doc.append_child(pugi::node_element);
            limbo.set_name("detached");
        }
        return limbo;
    }
    pugi::xml_node loose_node() {
        if (!loose) {
            loose = limbo_node().append_child(pugi::node_element);
            loose.set_name("attributes");
        }
        return loose;
    }
    bool in_limbo(pugi::xml_node n) const {
        if (!limbo) {
            return false;
        }
        for (; n; n = n.parent()) {
            if (n == limbo) {
                return true;
            }
        }
        return false;
    }
    pugi::xml_node root() const {
        for (pugi::xml_node child = doc.first_child(); child; child = child.next_sibling()) {
            if (child.type() == pugi::node_element && child != limbo) {
                return child;
            }
        }
        return {};
    }
};

} // namespace xml_detail

using xml_detail::DocState;

struct XmlDocument::Holder {
    std::shared_ptr<DocState> state;
};

struct XmlNode::Ref {
    std::shared_ptr<XmlDocument::Holder> holder; // set for the document node, which follows every load
    std::shared_ptr<DocState> state;             // set for every other node
    pugi::xml_node node;                         // the node; for an attribute, its element
    pugi::xml_attribute attribute;

    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (!attribute || !state) {
            return;
        }
        state->attribute_refs.erase(this);
        // An attribute attached to no element that nothing refers to any more is dropped.
        if (node && node == state->loose) {
            for (const Ref* other : state->attribute_refs) {
                if (other->attribute == attribute) {
                    return;
                }
            }
            node.remove_attribute(attribute);
        }
    }

    DocState* doc_state() const { return holder ? holder->state.get() : state.get(); }
    bool is_document() const { return holder != nullptr; }

    static XmlNode wrap(std::shared_ptr<Ref> ref) { return XmlNode(std::move(ref)); }

    static XmlNode of_document(std::shared_ptr<XmlDocument::Holder> holder) {
        if (!holder || !holder->state) {
            return {};
        }
        auto ref = std::make_shared<Ref>();
        ref->holder = std::move(holder);
        return wrap(std::move(ref));
    }
    static XmlNode of_node(const std::shared_ptr<DocState>& state, pugi::xml_node node) {
        if (!node) {
            return {};
        }
        auto ref = std::make_shared<Ref>();
        ref->state = state;
        ref->node = node;
        return wrap(std::move(ref));
    }
    static XmlNode of_attribute(const std::shared_ptr<DocState>& state, pugi::xml_node owner,
                                pugi::xml_attribute attribute) {
        if (!attribute) {
            return {};
        }
        auto ref = std::make_shared<Ref>();
        ref->state = state;
        ref->node = owner;
        ref->attribute = attribute;
        state->attribute_refs.insert(ref.get());
        return wrap(std::move(ref));
    }
};

namespace {

// XML names (XML 1.0 Name), with every non-ASCII character allowed.
bool is_xml_name(std::string_view name) {
    if (name.empty() || !utf8::is_valid(name)) {
        return false;
    }
    const auto start = [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
    };
    if (!start(static_cast<unsigned char>(name.front()))) {
        return false;
    }
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (!(start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.')) {
            return false;
        }
    }
    return true;
}

// A text that can go into the document: UTF-8 without NUL (pugixml takes C strings).
bool is_document_text(std::string_view text) {
    return text.find('\0') == std::string_view::npos && utf8::is_valid(text);
}

std::string dom_name(pugi::xml_node n) {
    switch (n.type()) {
    case pugi::node_document:
        return "#document";
    case pugi::node_element:
    case pugi::node_pi:
        return n.name();
    case pugi::node_pcdata:
        return "#text";
    case pugi::node_cdata:
        return "#cdata-section";
    case pugi::node_comment:
        return "#comment";
    case pugi::node_declaration:
        return "xml";
    case pugi::node_doctype: {
        const std::string value = n.value();
        return value.substr(0, value.find_first_of(" \t\r\n["));
    }
    default:
        return {};
    }
}

std::string dom_value(pugi::xml_node n) {
    switch (n.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
        return n.value();
    default:
        return {};
    }
}

void append_text_content(pugi::xml_node top, std::string& out) {
    if (!top) {
        return;
    }
    if (top.type() != pugi::node_element && top.type() != pugi::node_document) {
        out += dom_value(top);
        return;
    }
    // Iterative walk: a deep document must not exhaust the stack.
    pugi::xml_node n = top.first_child();
    while (n) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
            out += n.value();
        }
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && n != top && !n.next_sibling()) {
            n = n.parent();
        }
        if (!n || n == top) {
            break;
        }
        n = n.next_sibling();
    }
}

// Reads a decimal prefix: leading blanks and a sign allowed, 0 when there is no number.
long long decimal_prefix(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > 1'000'000'000'000LL) {
            break;
        }
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, std::size_t size) override {
        out.append(static_cast<const char*>(data), size);
    }
};

// The document as text, each top-level node followed by CR LF. For a file the declaration names UTF-8,
// the encoding the file is written in.
std::string serialize(const DocState& st, bool for_file) {
    StringWriter writer;
    for (pugi::xml_node child = st.doc.first_child(); child; child = child.next_sibling()) {
        if (child == st.limbo) {
            continue;
        }
        if (child.type() == pugi::node_declaration && for_file) {
            writer.out += "<?xml";
            bool has_encoding = false;
            for (pugi::xml_attribute a = child.first_attribute(); a; a = a.next_attribute()) {
                const bool encoding = std::strcmp(a.name(), "encoding") == 0;
                has_encoding = has_encoding || encoding;
                writer.out += ' ';
                writer.out += a.name();
                writer.out += "=\"";
                writer.out += encoding ? "UTF-8" : a.value();
                writer.out += '"';
            }
            writer.out += "?>";
        } else {
            child.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
        }
        writer.out += "\r\n";
    }
    return writer.out;
}

// What the loader accepts beyond well-formedness as pugixml checks it: one root element and no text
// beside it, no entity declarations (their expansion is how an XML bomb works), a bounded depth, and
// attribute names unique per element.
bool acceptable(const DocState& st) {
    int elements = 0;
    for (pugi::xml_node child = st.doc.first_child(); child; child = child.next_sibling()) {
        switch (child.type()) {
        case pugi::node_element:
            ++elements;
            break;
        case pugi::node_pcdata:
        case pugi::node_cdata:
            return false;
        case pugi::node_doctype:
            if (std::strstr(child.value(), "<!ENTITY") != nullptr) {
                return false;
            }
            break;
        default:
            break;
        }
    }
    if (elements != 1) {
        return false;
    }
    struct Check : pugi::xml_tree_walker {
        bool for_each(pugi::xml_node& node) override {
            if (static_cast<std::size_t>(depth()) >= XmlDocument::max_depth) {
                return false;
            }
            std::size_t count = 0;
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
                ++count;
            }
            if (count < 2) {
                return true;
            }
            std::unordered_set<std::string_view> names;
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
                if (!names.insert(a.name()).second) {
                    return false;
                }
            }
            return true;
        }
    } check;
    return const_cast<pugi::xml_document&>(st.doc).traverse(check);
}

std::shared_ptr<DocState> parse_document(const char* data, std::size_t size, pugi::xml_encoding encoding) {
    auto st = std::make_shared<DocState>();
    if (!st->doc.load_buffer(data, size, pugi::parse_full | pugi::parse_fragment, encoding) ||
        !acceptable(*st)) {
        return nullptr;
    }
    return st;
}

// The attribute of that name on the element, through the name index once the element has many.
pugi::xml_attribute find_attribute(DocState& st, pugi::xml_node element, std::string_view name) {
    static constexpr std::size_t index_from = 32;
    if (st.indexed == element && st.indexed_version == st.version) {
        const auto it = st.index.find(std::string(name));
        return it == st.index.end() ? pugi::xml_attribute() : it->second;
    }
    std::size_t count = 0;
    pugi::xml_attribute hit;
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
        ++count;
        if (!hit && name == a.name()) {
            hit = a;
        }
    }
    if (count > index_from) {
        st.index.clear();
        for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
            st.index.emplace(a.name(), a);
        }
        st.indexed = element;
        st.indexed_version = st.version;
    }
    return hit;
}

// Sets attribute `name` on the element. When one of that name was there, its value is replaced and, with
// keep_old, a detached copy of the old attribute is kept in `old`.
struct Attached {
    pugi::xml_attribute attribute;
    bool replaced = false;
    pugi::xml_attribute old;
};

Attached attach(DocState& st, pugi::xml_node element, const std::string& name, const char* value,
                bool keep_old) {
    Attached out;
    if (pugi::xml_attribute existing = find_attribute(st, element, name)) {
        if (keep_old) {
            out.old = st.loose_node().append_attribute(name.c_str());
            out.old.set_value(existing.value());
        }
        existing.set_value(value);
        out.attribute = existing;
        out.replaced = true;
        return out;
    }
    out.attribute = element.append_attribute(name.c_str());
    out.attribute.set_value(value);
    if (st.indexed == element && st.indexed_version == st.version) {
        st.index.emplace(name, out.attribute);
    }
    return out;
}

// Takes an attribute off its element; references to it follow a detached copy.
void detach_attribute(DocState& st, pugi::xml_node element, pugi::xml_attribute attribute) {
    pugi::xml_attribute copy = st.loose_node().append_attribute(attribute.name());
    copy.set_value(attribute.value());
    for (XmlNode::Ref* ref : st.attribute_refs) {
        if (ref->attribute == attribute) {
            ref->attribute = copy;
            ref->node = st.loose;
        }
    }
    element.remove_attribute(attribute);
    st.touch();
}

// Takes a node out of the tree; it stays alive under limbo.
void detach_node(DocState& st, pugi::xml_node node) {
    st.limbo_node().append_move(node);
    st.touch();
}

std::string normalise_path(std::string_view path) {
    std::string p(path);
    if (!p.empty() && p.back() == '/') {
        p = "//" + p.substr(0, p.size() - 1);
    }
    if (p.compare(0, 2, "//") != 0) {
        p = "//" + p;
    }
    return p;
}

// The first node in document order that the path selects, outside limbo.
pugi::xpath_node find_node(const DocState* st, std::string_view path) {
    if (st == nullptr || !is_document_text(path)) {
        return {};
    }
    const pugi::xml_node root = st->root();
    if (!root) {
        return {};
    }
    try {
        const pugi::xpath_query query(normalise_path(path).c_str());
        if (!query || query.return_type() != pugi::xpath_type_node_set) {
            return {};
        }
        if (!st->limbo) {
            return root.select_node(query);
        }
        pugi::xpath_node_set found = root.select_nodes(query);
        found.sort();
        for (const pugi::xpath_node& hit : found) {
            if (!st->in_limbo(hit.attribute() ? hit.parent() : hit.node())) {
                return hit;
            }
        }
    } catch (const std::exception&) {
        // A malformed path, or no memory for its result.
    }
    return {};
}

pugi::xml_node element_at(const DocState* st, std::string_view path) {
    const pugi::xpath_node hit = find_node(st, path);
    return !hit.attribute() && hit.node().type() == pugi::node_element ? hit.node() : pugi::xml_node();
}

std::string trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::filesystem::path file_path(std::string_view utf8_path) {
    return std::filesystem::path(std::u8string(utf8_path.begin(), utf8_path.end()));
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// XmlNode

XmlNode::XmlNode() = default;
XmlNode::~XmlNode() = default;
XmlNode::XmlNode(const XmlNode&) = default;
XmlNode& XmlNode::operator=(const XmlNode&) = default;
XmlNode::XmlNode(XmlNode&&) noexcept = default;
XmlNode& XmlNode::operator=(XmlNode&&) noexcept = default;
XmlNode::XmlNode(std::shared_ptr<Ref> ref) : ref_(std::move(ref)) {}

bool XmlNode::empty() const {
    return !ref_ || ref_->doc_state() == nullptr;
}

XmlNode XmlNode::createAttribute(std::string_view name) const {
    if (empty() || !ref_->is_document() || !is_xml_name(name)) {
        return {};
    }
    const std::shared_ptr<DocState> st = ref_->holder->state;
    pugi::xml_attribute attribute = st->loose_node().append_attribute(std::string(name).c_str());
    return Ref::of_attribute(st, st->loose, attribute);
}

XmlNode XmlNode::setAttributeNode(const XmlNode& attribute) const {
    if (empty() || attribute.empty() || ref_->is_document() || ref_->attribute ||
        ref_->node.type() != pugi::node_element || !attribute.ref_->attribute) {
        return {};
    }
    Ref& element = *ref_;
    Ref& added = *attribute.ref_;
    DocState& st = *element.state;
    if (added.state != element.state) {
        return {}; // another document's attribute
    }
    if (added.node == element.node) {
        return attribute; // already this element's: it replaces itself
    }
    if (added.node != st.loose) {
        return {}; // in use on another element
    }
    const std::string name = added.attribute.name();
    const Attached result = attach(st, element.node, name, added.attribute.value(), true);
    // The reference now names the attached attribute; the detached one it named is dropped.
    const pugi::xml_attribute was = added.attribute;
    for (Ref* ref : st.attribute_refs) {
        if (ref->attribute == was) {
            ref->attribute = result.attribute;
            ref->node = element.node;
        }
    }
    st.loose.remove_attribute(was);
    return Ref::of_attribute(element.state, st.loose, result.old);
}

std::string XmlNode::node_name() const {
    if (empty()) {
        return {};
    }
    if (ref_->is_document()) {
        return "#document";
    }
    return ref_->attribute ? ref_->attribute.name() : dom_name(ref_->node);
}

std::string XmlNode::node_value() const {
    if (empty() || ref_->is_document()) {
        return {};
    }
    return ref_->attribute ? ref_->attribute.value() : dom_value(ref_->node);
}

std::string XmlNode::text() const {
    if (empty()) {
        return {};
    }
    std::string out;
    if (ref_->is_document()) {
        append_text_content(ref_->doc_state()->root(), out);
    } else if (ref_->attribute) {
        out = ref_->attribute.value();
    } else {
        append_text_content(ref_->node, out);
    }
    return out;
}

bool XmlNode::same_node(const XmlNode& other) const {
    if (empty() || other.empty()) {
        return false;
    }
    const Ref& a = *ref_;
    const Ref& b = *other.ref_;
    if (a.is_document() || b.is_document()) {
        return a.is_document() && b.is_document() && a.doc_state() == b.doc_state();
    }
    return a.state == b.state && a.attribute == b.attribute && (a.attribute || a.node == b.node);
}

// ---------------------------------------------------------------------------------------------------------
// XmlDocument

XmlDocument::XmlDocument(MessageBoxView* messages)
    : holder_(std::make_shared<Holder>(Holder{std::make_shared<DocState>()})), messages_(messages) {}
XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(const XmlDocument&) = default;
XmlDocument& XmlDocument::operator=(const XmlDocument&) = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;

void XmlDocument::close() {
    holder_.reset();
}

bool XmlDocument::new_document(std::string_view root_name) {
    static constexpr std::string_view root_mark = "根";
    std::string text = "<?xml version=\"1.0\" encoding=\"gbk\" ?>\r\n<根></根>";
    std::size_t at = 0;
    for (int i = 0; i < 2; ++i) {
        at = text.find(root_mark, at);
        if (at == std::string::npos) {
            break;
        }
        text.replace(at, root_mark.size(), root_name);
        at += root_name.size();
    }
    return load_xml(text);
}

XmlNode XmlDocument::get_document() const {
    return XmlNode::Ref::of_document(holder_);
}

bool XmlDocument::load(std::string_view source) {
    if (!holder_ || source.empty() || source.find("://") != std::string_view::npos ||
        !is_document_text(source)) {
        return false;
    }
    std::string bytes;
    try {
        std::ifstream file(file_path(source), std::ios::binary);
        if (!file) {
            return false;
        }
        char buf[65536];
        while (file.read(buf, sizeof buf) || file.gcount() > 0) {
            bytes.append(buf, static_cast<std::size_t>(file.gcount()));
            if (bytes.size() > max_text_bytes) {
                return false;
            }
        }
    } catch (const std::exception&) {
        return false;
    }
    // UTF-16 files announce themselves with a byte order mark; anything else must be UTF-8.
    const bool utf16 = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                             (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
    if (!utf16 && !utf8::is_valid(bytes)) {
        return false;
    }
    auto st = parse_document(bytes.data(), bytes.size(), utf16 ? pugi::encoding_auto : pugi::encoding_utf8);
    if (!st) {
        return false;
    }
    st->url = std::string(source);
    holder_->state = std::move(st);
    return true;
}

bool XmlDocument::load_xml(std::string_view xml_text) {
    if (!holder_ || xml_text.size() > max_text_bytes || !utf8::is_valid(xml_text)) {
        return false;
    }
    // The text is already characters: a declared encoding says nothing about it.
    auto st = parse_document(xml_text.data(), xml_text.size(), pugi::encoding_utf8);
    if (!st) {
        return false;
    }
    holder_->state = std::move(st);
    return true;
}

bool XmlDocument::save() {
    const std::string path = trimmed(get_url());
    if (path.empty()) {
        MessageBoxView* view = messages_ != nullptr ? messages_ : message_box_view();
        if (view != nullptr) {
            view->show_message_box("导出到文件() 命令需要提供在保存的文件位置", {}, 0);
        }
        return false;
    }
    return save(path);
}

bool XmlDocument::save(std::string_view path) {
    const DocState* st = holder_ ? holder_->state.get() : nullptr;
    if (st == nullptr || path.empty() || !is_document_text(path)) {
        return false;
    }
    try {
        const std::string text = serialize(*st, true);
        std::ofstream file(file_path(path), std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.close();
        return !file.fail();
    } catch (const std::exception&) {
        return false;
    }
}

std::string XmlDocument::get_text() const {
    std::string out;
    if (holder_) {
        append_text_content(holder_->state->root(), out);
    }
    return out;
}

std::string XmlDocument::get_xml() const {
    return holder_ ? serialize(*holder_->state, false) : std::string();
}

std::string XmlDocument::get_url() const {
    return holder_ ? holder_->state->url : std::string();
}

bool XmlDocument::rename_attribute(std::string_view path, std::string_view old_name,
                                   std::string_view new_name) {
    DocState* st = holder_ ? holder_->state.get() : nullptr;
    const pugi::xml_node element = element_at(st, path);
    if (!element || !is_xml_name(new_name)) {
        return false;
    }
    const pugi::xml_attribute old = find_attribute(*st, element, old_name);
    if (!old) {
        return false;
    }
    if (old_name == new_name) {
        return true;
    }
    attach(*st, element, std::string(new_name), old.value(), false);
    detach_attribute(*st, element, old);
    return true;
}

bool XmlDocument::set_attribute_text(std::string_view path, std::string_view name, std::string_view text) {
    DocState* st = holder_ ? holder_->state.get() : nullptr;
    const pugi::xml_node element = element_at(st, path);
    if (!element || !is_document_text(text)) {
        return false;
    }
    pugi::xml_attribute attribute = find_attribute(*st, element, name);
    return attribute && attribute.set_value(std::string(text).c_str());
}

bool XmlDocument::set_node_text(std::string_view path, std::string_view text) {
    DocState* st = holder_ ? holder_->state.get() : nullptr;
    const pugi::xpath_node hit = find_node(st, path);
    if (!hit || !is_document_text(text)) {
        return false;
    }
    const std::string value(text);
    if (hit.attribute()) {
        return pugi::xml_attribute(hit.attribute()).set_value(value.c_str());
    }
    pugi::xml_node first = hit.node().first_child();
    switch (first.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
        return first.set_value(value.c_str());
    default:
        return false; // no first child, or one (an element) without a value
    }
}

bool XmlDocument::rename_element(std::string_view path, std::string_view new_name) {
    DocState* st = holder_ ? holder_->state.get() : nullptr;
    pugi::xml_node element = element_at(st, path);
    if (!element || !is_xml_name(new_name)) {
        return false;
    }
    // Renamed in place: its attributes and children stay with it.
    st->touch();
    return element.set_name(std::string(new_name).c_str());
}

bool XmlDocument::add_element(std::string_view parent_path, std::string_view name, std::string_view text,
                              bool cdata) {
    DocState* st = holder_ ? holder_->state.get() : nullptr;
    pugi::xml_node parent = element_at(st, parent_path);
    if (!parent || !is_xml_name(name) || !is_document_text(text)) {
        return false;
    }
    pugi::xml_node element = parent.append_child(pugi::node_element);
    element.set_name(std::string(name).c_str());
    if (cdata) {
        // The section goes into the new element itself, also when an earlier one has the same name.
        element.append_child(pugi::node_cdata).set_value(std::string(text).c_str());
    } else if (!text.empty()) {
        element.append_child(pugi::node_pcdata).set_value(std::string(text).c_str());
    }
    st->touch();
    return true;
}

bool XmlDocument::remove_node(std::string_view path) {
    DocState* st = holder_ ? holder_->state.get() : nullptr;
    const pugi::xpath_node hit = find_node(st, path);
    if (!hit || hit.attribute() || !hit.node().parent()) {
        return false; // an attribute has no parent node to be removed from
    }
    detach_node(*st, hit.node());
    return true;
}

bool XmlDocument::set_attribute(std::string_view path, std::string_view name, std::string_view text) {
    DocState* st = holder_ ? holder_->state.get() : nullptr;
    const pugi::xml_node element = element_at(st, path);
    if (!element || !is_xml_name(name) || !is_document_text(text)) {
        return false;
    }
    return !attach(*st, element, std::string(name), std::string(text).c_str(), false).replaced;
}

bool XmlDocument::remove_attribute(std::string_view path, std::string_view name) {
    DocState* st = holder_ ? holder_->state.get() : nullptr;
    const pugi::xml_node element = element_at(st, path);
    if (!element) {
        return false;
    }
    if (const pugi::xml_attribute attribute = find_attribute(*st, element, name)) {
        detach_attribute(*st, element, attribute);
    }
    return true; // removing an attribute that is not there is no error
}

std::string XmlDocument::get_attribute(std::string_view path, std::string_view key) const {
    DocState* st = holder_ ? holder_->state.get() : nullptr;
    const pugi::xml_node element = element_at(st, path);
    if (!element) {
        return {};
    }
    if (key.find('@') == std::string_view::npos) {
        return find_attribute(*st, element, key).value();
    }
    const long long n = decimal_prefix(key.substr(1));
    long long i = 1;
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute(), ++i) {
        if (i == n) {
            return a.value();
        }
    }
    return {};
}

int XmlDocument::list_attributes(std::string_view path, std::vector<std::string>* names,
                                 std::vector<std::string>* values) const {
    if (names != nullptr) {
        names->clear();
    }
    if (values != nullptr) {
        values->clear();
    }
    const pugi::xml_node element = element_at(holder_ ? holder_->state.get() : nullptr, path);
    int n = 0;
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute(), ++n) {
        if (names != nullptr) {
            names->push_back(a.name());
        }
        if (values != nullptr) {
            values->push_back(a.value());
        }
    }
    return n;
}

int XmlDocument::attribute_count(std::string_view path) const {
    return list_attributes(path);
}

std::string XmlDocument::get_node_text(std::string_view path) const {
    const pugi::xpath_node hit = find_node(holder_ ? holder_->state.get() : nullptr, path);
    if (hit.attribute()) {
        return hit.attribute().value();
    }
    return dom_value(hit.node().first_child());
}

int XmlDocument::list_children(std::string_view path, std::vector<std::string>& names) const {
    names.clear();
    const pugi::xpath_node hit = find_node(holder_ ? holder_->state.get() : nullptr, path);
    if (hit.attribute()) {
        return 0;
    }
    for (pugi::xml_node child = hit.node().first_child(); child; child = child.next_sibling()) {
        names.push_back(dom_name(child));
    }
    return static_cast<int>(names.size());
}

int XmlDocument::child_count(std::string_view path) const {
    std::vector<std::string> names;
    return list_children(path, names);
}

std::string XmlDocument::root_name() const {
    return holder_ ? dom_name(holder_->state->root()) : std::string();
}

std::string XmlDocument::parent_name(const XmlNode& node) const {
    if (node.empty() || node.ref_->is_document() || node.ref_->attribute) {
        return {}; // the document and attributes have no parent node
    }
    const XmlNode::Ref& ref = *node.ref_;
    const pugi::xml_node parent = ref.node.parent();
    if (!parent || parent == ref.state->limbo || parent == ref.state->loose) {
        return {};
    }
    return dom_name(parent);
}

XmlNode XmlDocument::root_element() const {
    return holder_ ? XmlNode::Ref::of_node(holder_->state, holder_->state->root()) : XmlNode();
}

XmlNode XmlDocument::parent_node(std::string_view path) const {
    const pugi::xpath_node hit = find_node(holder_ ? holder_->state.get() : nullptr, path);
    if (!hit || hit.attribute()) {
        return {};
    }
    const pugi::xml_node parent = hit.node().parent();
    if (parent.type() == pugi::node_document) {
        return get_document();
    }
    return XmlNode::Ref::of_node(holder_->state, parent);
}

XmlNode XmlDocument::select_node(std::string_view path) const {
    if (!holder_) {
        return {};
    }
    const pugi::xpath_node hit = find_node(holder_->state.get(), path);
    if (hit.attribute()) {
        return XmlNode::Ref::of_attribute(holder_->state, hit.parent(), hit.attribute());
    }
    return XmlNode::Ref::of_node(holder_->state, hit.node());
}

XmlNode XmlDocument::clone_node(const XmlNode& node) const {
    if (node.empty() || node.ref_->is_document()) {
        return {};
    }
    const XmlNode::Ref& ref = *node.ref_;
    DocState& st = *ref.state;
    if (ref.attribute) {
        pugi::xml_attribute copy = st.loose_node().append_attribute(ref.attribute.name());
        copy.set_value(ref.attribute.value());
        return XmlNode::Ref::of_attribute(ref.state, st.loose, copy);
    }
    pugi::xml_node copy;
    if (ref.node.type() == pugi::node_element) {
        // Not deep: the name and the attributes, no children.
        copy = st.limbo_node().append_child(pugi::node_element);
        copy.set_name(ref.node.name());
        for (pugi::xml_attribute a = ref.node.first_attribute(); a; a = a.next_attribute()) {
            copy.append_copy(a);
        }
    } else if (ref.node.type() != pugi::node_document) {
        copy = st.limbo_node().append_copy(ref.node);
    }
    return XmlNode::Ref::of_node(ref.state, copy);
}

XmlNode XmlDocument::replace_node(const XmlNode& node, const XmlNode& new_node) {
    if (node.empty() || new_node.empty() || node.ref_->is_document() || new_node.ref_->is_document() ||
        node.ref_->attribute || new_node.ref_->attribute || node.ref_->state != new_node.ref_->state) {
        return {};
    }
    DocState& st = *node.ref_->state;
    const pugi::xml_node old = node.ref_->node;
    const pugi::xml_node replacement = new_node.ref_->node;
    pugi::xml_node parent = old.parent();
    if (!parent || parent == st.limbo || parent == st.loose) {
        return {}; // a node with no place in the document
    }
    if (old == replacement) {
        return node;
    }
    if (parent.type() == pugi::node_document && replacement.type() != pugi::node_element) {
        return {};
    }
    // pugixml refuses to move a node into itself or below itself.
    if (!parent.insert_move_before(replacement, old)) {
        return {};
    }
    detach_node(st, old);
    return node;
}

} // namespace vestrel
