// XmlDocument and XmlNode: an XML document edited through element and attribute operations addressed by
// a path, and the nodes it hands out.
//
// A path is an XPath location path searched anywhere in the document: "array/CDS" finds the first CDS
// element that is a child of an array element. select_node tells how a path is read; every operation
// that takes a path finds its node that way. Texts are UTF-8. Failures are silent: an empty XmlNode,
// empty text, 0 or false, with the document as it was. Entity declarations (which can expand without
// bound) and documents over the limits below are refused like malformed text.
//
// Nodes stay valid as long as they are held, also after they were removed from the document. The
// document and its nodes belong to the thread that made the document. Copies of an XmlDocument share
// one document.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

class MessageBoxView;

// A reference to one node: the document, an element, an attribute, a text node; empty when an operation
// found or made nothing.
class XmlNode {
public:
    XmlNode();
    ~XmlNode();
    XmlNode(const XmlNode&);
    XmlNode& operator=(const XmlNode&);
    XmlNode(XmlNode&&) noexcept;
    XmlNode& operator=(XmlNode&&) noexcept;

    bool empty() const;
    explicit operator bool() const { return !empty(); }

    // W3C DOM Level 1 Core names, as the duplicate finder uses them.
    // On the document node: a new attribute of that name with an empty value, attached to no element;
    // empty for a name that is not an XML name.
    XmlNode createAttribute(std::string_view name) const;
    // On an element: attaches the attribute. Returns the attribute of the same name (compared exactly) that
    // it replaced, or an empty node when there was none or the call failed.
    XmlNode setAttributeNode(const XmlNode& attribute) const;

    std::string node_name() const;  // element or attribute name; "#text", "#cdata-section", "#document" ...
    std::string node_value() const; // value of an attribute, text, CDATA, comment; empty for elements
    std::string text() const;       // text content: the node's own value, or all text below it
    // True when both refer to the same node.
    bool same_node(const XmlNode& other) const;

    struct Ref; // defined in xml_document.cpp

private:
    friend class XmlDocument;
    explicit XmlNode(std::shared_ptr<Ref> ref);
    std::shared_ptr<Ref> ref_;
};

class XmlDocument {
public:
    // An empty document. The message box of save goes to `messages`, or to the process-wide view when
    // that is null (see script/message_box.h).
    explicit XmlDocument(MessageBoxView* messages = nullptr);
    ~XmlDocument();
    XmlDocument(const XmlDocument&);
    XmlDocument& operator=(const XmlDocument&);
    XmlDocument(XmlDocument&&) noexcept;
    XmlDocument& operator=(XmlDocument&&) noexcept;

    // Lets go of the document; every later operation on this object fails.
    void close();
    // A new document: an XML declaration naming gbk, then the root element `root_name`, empty.
    bool new_document(std::string_view root_name);
    // The document node (for createAttribute).
    XmlNode get_document() const;
    // Loads an XML file (UTF-8 or UTF-16); other sources such as URLs are refused.
    bool load(std::string_view source);
    // True when the text was well-formed and is now the document.
    bool load_xml(std::string_view xml_text);
    // Saves to path, or without one to get_url(); with neither, shows a message box and returns false.
    // The file is written in UTF-8 and its declaration says so.
    bool save();
    bool save(std::string_view path);
    std::string get_text() const; // the text content of the whole document
    std::string get_xml() const;  // the document as XML text
    std::string get_url() const;  // where the document was loaded from; empty for one made from text

    bool rename_attribute(std::string_view path, std::string_view old_name, std::string_view new_name);
    // Sets the text of an existing attribute; false when the element has no such attribute.
    bool set_attribute_text(std::string_view path, std::string_view name, std::string_view text);
    // Sets the value of the node's first child (its text); false when there is none.
    bool set_node_text(std::string_view path, std::string_view text);
    // Gives the element a new name, keeping its attributes and children in place.
    bool rename_element(std::string_view path, std::string_view new_name);
    // Appends element `name` holding `text` (as a CDATA section with cdata) to the node at parent_path.
    bool add_element(std::string_view parent_path, std::string_view name, std::string_view text,
                     bool cdata = false);
    bool remove_node(std::string_view path);
    // Sets the attribute; true when it was added, false when it replaced one of the same name or failed.
    bool set_attribute(std::string_view path, std::string_view name, std::string_view text);
    bool remove_attribute(std::string_view path, std::string_view name);
    // The attribute's value; "@" followed by n reads the element's n-th attribute (from 1).
    std::string get_attribute(std::string_view path, std::string_view key) const;
    // Fills names and values (each may be null) with the element's attributes in order; returns their number.
    int list_attributes(std::string_view path, std::vector<std::string>* names = nullptr,
                        std::vector<std::string>* values = nullptr) const;
    int attribute_count(std::string_view path) const;
    // The value of the node's first child (its text when that is a text node).
    std::string get_node_text(std::string_view path) const;
    int list_children(std::string_view path, std::vector<std::string>& names) const;
    int child_count(std::string_view path) const;
    std::string root_name() const;
    std::string parent_name(const XmlNode& node) const;
    XmlNode root_element() const;
    XmlNode parent_node(std::string_view path) const;
    // The first node in document order that the path selects. A path ending in "/" becomes "//" and the
    // path without it; a path not beginning with "//" gets "//" in front; the result is asked of the root
    // element.
    XmlNode select_node(std::string_view path) const;
    // A copy of the node without its children, attached nowhere.
    XmlNode clone_node(const XmlNode& node) const;
    // Puts new_node in node's place; returns node, now detached, or an empty node.
    XmlNode replace_node(const XmlNode& node, const XmlNode& new_node);

    // Limits on what load and load_xml accept.
    static constexpr std::size_t max_text_bytes = 16u << 20;
    static constexpr std::size_t max_depth = 1024;

    struct Holder; // defined in xml_document.cpp

private:
    std::shared_ptr<Holder> holder_;
    MessageBoxView* messages_;
};

} // namespace vestrel
