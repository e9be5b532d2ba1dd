#include "script/message_box.h"
#include "script/xml_document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using vestrel::XmlDocument;
using vestrel::XmlNode;

namespace {

struct RecordedBox {
    std::string text;
    std::string title;
    int style;
};

class RecordingMessageBoxes : public vestrel::MessageBoxView {
public:
    std::vector<RecordedBox> shown;
    int show_message_box(std::string_view text, std::string_view title, int style) override {
        shown.push_back({std::string(text), std::string(title), style});
        return 1;
    }
};

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::filesystem::path temp_file(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("vestrel-xml-test-" + name);
}

// The document the duplicate finder builds: a root "array" with one empty child "CDS".
XmlDocument finder_document() {
    XmlDocument doc;
    EXPECT_TRUE(doc.new_document("array"));
    EXPECT_TRUE(doc.add_element("array", "CDS", ""));
    return doc;
}

TEST(XmlDocument, NewDocumentAndAddElement) {
    XmlDocument doc;
    ASSERT_TRUE(doc.new_document("array"));
    EXPECT_EQ(doc.root_name(), "array");
    EXPECT_EQ(doc.get_xml(), "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<array/>\r\n");
    ASSERT_TRUE(doc.add_element("array", "CDS", ""));
    EXPECT_EQ(doc.child_count("array"), 1);
    EXPECT_EQ(doc.child_count("array/CDS"), 0);
    EXPECT_EQ(doc.get_url(), "");

    XmlNode cds = doc.select_node("array/CDS");
    ASSERT_FALSE(cds.empty());
    EXPECT_EQ(cds.node_name(), "CDS");
    EXPECT_TRUE(doc.select_node("array/CDS/").same_node(cds));
    EXPECT_TRUE(doc.select_node("//array/CDS").same_node(cds));
    EXPECT_EQ(doc.parent_name(cds), "array");
    EXPECT_EQ(doc.parent_name(doc.root_element()), "#document");

    EXPECT_FALSE(doc.new_document("bad name"));
    EXPECT_FALSE(doc.new_document("a></a><b"));
    EXPECT_EQ(doc.root_name(), "array"); // a failed load leaves the document as it was
    ASSERT_TRUE(doc.new_document("根目录"));
    EXPECT_EQ(doc.root_name(), "根目录");
}

// The duplicate finder's digest set: the W3C setAttributeNode result marks a repeat.
TEST(XmlDocument, SetAttributeNodeReportsTheReplacedAttribute) {
    XmlDocument doc = finder_document();
    XmlNode cds = doc.select_node("array/CDS");
    XmlNode document = doc.get_document();
    ASSERT_FALSE(document.empty());
    EXPECT_EQ(document.node_name(), "#document");

    XmlNode first = document.createAttribute("a0cc175b9c0f1b6a831c399e269772661");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.node_value(), "");
    EXPECT_EQ(doc.parent_name(first), "");
    EXPECT_TRUE(cds.setAttributeNode(first).empty());

    XmlNode again = document.createAttribute("a0cc175b9c0f1b6a831c399e269772661");
    XmlNode replaced = cds.setAttributeNode(again);
    ASSERT_FALSE(replaced.empty());
    EXPECT_EQ(replaced.node_name(), "a0cc175b9c0f1b6a831c399e269772661");

    EXPECT_TRUE(cds.setAttributeNode(document.createAttribute("a92eb5ffee6ae2fec3ad71c777531578f")).empty());
    // Names compare exactly.
    EXPECT_TRUE(cds.setAttributeNode(document.createAttribute("A0cc175b9c0f1b6a831c399e269772661")).empty());
    EXPECT_EQ(doc.attribute_count("array/CDS"), 3);

    // Failed calls give an empty result.
    EXPECT_TRUE(document.createAttribute("").empty());
    EXPECT_TRUE(document.createAttribute("1abc").empty());
    EXPECT_TRUE(document.createAttribute("a b").empty());
    EXPECT_TRUE(cds.createAttribute("x").empty()); // not the document node
    EXPECT_TRUE(cds.setAttributeNode(XmlNode()).empty());
    EXPECT_TRUE(XmlNode().setAttributeNode(document.createAttribute("x")).empty());
    EXPECT_TRUE(cds.setAttributeNode(cds).empty()); // not an attribute
    XmlDocument other = finder_document();
    EXPECT_TRUE(cds.setAttributeNode(other.get_document().createAttribute("x")).empty()); // another document
    // An attribute in use on one element cannot be set on another.
    ASSERT_TRUE(doc.add_element("array", "more", ""));
    XmlNode more = doc.select_node("array/more");
    EXPECT_TRUE(more.setAttributeNode(first).empty());
    EXPECT_EQ(doc.attribute_count("array/more"), 0);
}

TEST(XmlDocument, ManyDistinctAttributesOnOneElement) {
    XmlDocument doc = finder_document();
    XmlNode cds = doc.select_node("array/CDS");
    XmlNode document = doc.get_document();
    int repeats = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::string name = "a" + std::to_string(i % 1000);
        if (!cds.setAttributeNode(document.createAttribute(name)).empty()) {
            ++repeats;
        }
    }
    EXPECT_EQ(repeats, 2000);
    EXPECT_EQ(doc.attribute_count("array/CDS"), 1000);
    // Other changes to the element keep the set right.
    EXPECT_TRUE(doc.remove_attribute("array/CDS", "a5"));
    EXPECT_TRUE(cds.setAttributeNode(document.createAttribute("a5")).empty());
    EXPECT_FALSE(cds.setAttributeNode(document.createAttribute("a5")).empty());
    EXPECT_TRUE(doc.rename_attribute("array/CDS", "a6", "b6"));
    EXPECT_TRUE(cds.setAttributeNode(document.createAttribute("a6")).empty());
    EXPECT_FALSE(cds.setAttributeNode(document.createAttribute("b6")).empty());
}

TEST(XmlDocument, PathsThatMatchNothing) {
    XmlDocument doc = finder_document();
    ASSERT_TRUE(doc.set_attribute("array/CDS", "k", "v"));
    const std::string before = doc.get_xml();
    for (const char* path :
         {"array/none", "none", "", "/", "array[", "//array/", "/array", "count(//a)", "@@"}) {
        EXPECT_TRUE(doc.select_node(path).empty()) << path;
        EXPECT_TRUE(doc.parent_node(path).empty()) << path;
        EXPECT_FALSE(doc.add_element(path, "x", "")) << path;
        EXPECT_FALSE(doc.remove_node(path)) << path;
        EXPECT_FALSE(doc.set_attribute(path, "x", "y")) << path;
        EXPECT_FALSE(doc.remove_attribute(path, "x")) << path;
        EXPECT_FALSE(doc.rename_attribute(path, "k", "j")) << path;
        EXPECT_FALSE(doc.rename_element(path, "x")) << path;
        EXPECT_FALSE(doc.set_attribute_text(path, "k", "y")) << path;
        EXPECT_FALSE(doc.set_node_text(path, "y")) << path;
        EXPECT_EQ(doc.get_attribute(path, "k"), "") << path;
        EXPECT_EQ(doc.get_node_text(path), "") << path;
        EXPECT_EQ(doc.attribute_count(path), 0) << path;
        EXPECT_EQ(doc.child_count(path), 0) << path;
        std::vector<std::string> names{"stale"};
        EXPECT_EQ(doc.list_children(path, names), 0) << path;
        EXPECT_TRUE(names.empty());
        EXPECT_EQ(doc.list_attributes(path, &names, nullptr), 0) << path;
    }
    EXPECT_EQ(doc.get_xml(), before);
}

TEST(XmlDocument, SaveWithoutALocationShowsTheMessage) {
    RecordingMessageBoxes boxes;
    XmlDocument doc(&boxes);
    ASSERT_TRUE(doc.new_document("array"));
    EXPECT_FALSE(doc.save());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "导出到文件() 命令需要提供在保存的文件位置");
    EXPECT_EQ(boxes.shown[0].title, "");
    EXPECT_EQ(boxes.shown[0].style, 0);

    // Without a view of its own the document uses the process-wide one.
    RecordingMessageBoxes process_boxes;
    vestrel::set_message_box_view(&process_boxes);
    XmlDocument plain;
    EXPECT_FALSE(plain.save());
    vestrel::set_message_box_view(nullptr);
    EXPECT_EQ(process_boxes.shown.size(), 1u);
    EXPECT_FALSE(plain.save()); // no view: nothing shown, still false
}

TEST(XmlDocument, SaveAndLoadFiles) {
    const auto path = temp_file("保存.xml");
    std::filesystem::remove(path);
    const std::string utf8_path = reinterpret_cast<const char*>(path.u8string().c_str());
    {
        XmlDocument doc = finder_document();
        ASSERT_TRUE(doc.set_attribute("array/CDS", "name", "照片 😀 & <more>"));
        ASSERT_TRUE(doc.save(utf8_path));
    }
    const std::string bytes = read_file(path);
    // UTF-8 bytes, and a declaration that says so.
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", 0), 0u) << bytes;
    EXPECT_NE(bytes.find("照片 😀 &amp; &lt;more"), std::string::npos) << bytes;

    RecordingMessageBoxes boxes;
    XmlDocument loaded(&boxes);
    ASSERT_TRUE(loaded.load(utf8_path));
    EXPECT_EQ(loaded.get_url(), utf8_path);
    EXPECT_EQ(loaded.get_attribute("array/CDS", "name"), "照片 😀 & <more>");
    ASSERT_TRUE(loaded.set_attribute("CDS", "second", "2"));
    EXPECT_TRUE(loaded.save()); // to where it came from
    EXPECT_TRUE(boxes.shown.empty());
    XmlDocument again;
    ASSERT_TRUE(again.load(utf8_path));
    EXPECT_EQ(again.get_attribute("CDS", "second"), "2");

    EXPECT_FALSE(again.load(utf8_path + ".missing"));
    EXPECT_FALSE(again.load("http://127.0.0.1:1/x.xml"));
    EXPECT_FALSE(again.load(""));
    EXPECT_EQ(again.get_url(), utf8_path); // failed loads leave the document
    EXPECT_FALSE(again.save((path.parent_path() / "no-such-dir" / "x.xml").string()));
    std::filesystem::remove(path);

    // A file in another encoding than UTF-8 or UTF-16 is refused rather than misread.
    const auto gbk = temp_file("gbk.xml");
    {
        std::ofstream out(gbk, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"gbk\"?><a>\xC4\xE3\xBA\xC3</a>";
    }
    EXPECT_FALSE(again.load(gbk.string()));
    std::filesystem::remove(gbk);
}

TEST(XmlDocument, AttributeOperations) {
    XmlDocument doc;
    ASSERT_TRUE(doc.load_xml(R"(<root><item a="1" b="2" c="3">text<sub/></item><item a="x"/></root>)"));
    EXPECT_EQ(doc.get_attribute("item", "b"), "2");
    EXPECT_EQ(doc.get_attribute("item", "@2"), "2");
    EXPECT_EQ(doc.get_attribute("item", "@3"), "3");
    EXPECT_EQ(doc.get_attribute("item", "@4"), "");
    EXPECT_EQ(doc.get_attribute("item", "@0"), "");
    EXPECT_EQ(doc.get_attribute("item", "zz"), "");
    EXPECT_EQ(doc.get_attribute("item[2]", "a"), "x");
    EXPECT_EQ(doc.attribute_count("item"), 3);

    std::vector<std::string> names;
    std::vector<std::string> values;
    EXPECT_EQ(doc.list_attributes("item", &names, &values), 3);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(values, (std::vector<std::string>{"1", "2", "3"}));

    EXPECT_TRUE(doc.set_attribute("item", "d", "4"));    // added
    EXPECT_FALSE(doc.set_attribute("item", "a", "one")); // replaced
    EXPECT_EQ(doc.get_attribute("item", "a"), "one");
    EXPECT_FALSE(doc.set_attribute("item", "bad name", "x")); // a failure is not reported as success
    EXPECT_TRUE(doc.set_attribute_text("item", "b", "two"));
    EXPECT_FALSE(doc.set_attribute_text("item", "nope", "x"));
    EXPECT_TRUE(doc.rename_attribute("item", "c", "e"));
    EXPECT_FALSE(doc.rename_attribute("item", "c", "e"));
    EXPECT_FALSE(doc.rename_attribute("item", "e", "1bad"));
    EXPECT_TRUE(doc.remove_attribute("item", "d"));
    EXPECT_TRUE(doc.remove_attribute("item", "never-there"));
    EXPECT_EQ(doc.list_attributes("item", &names, &values), 3);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "e"}));
    EXPECT_EQ(values, (std::vector<std::string>{"one", "two", "3"}));
    // Selecting an attribute by path.
    XmlNode attribute = doc.select_node("item/@b");
    EXPECT_EQ(attribute.node_name(), "b");
    EXPECT_EQ(attribute.node_value(), "two");
    EXPECT_EQ(doc.get_node_text("item/@b"), "two");
    EXPECT_TRUE(doc.set_node_text("item/@b", "deux"));
    EXPECT_EQ(doc.get_attribute("item", "b"), "deux");
    // A removed attribute stays readable through a reference to it.
    EXPECT_TRUE(doc.remove_attribute("item", "b"));
    EXPECT_EQ(attribute.node_value(), "deux");
    EXPECT_EQ(doc.attribute_count("item"), 2);
}

TEST(XmlDocument, TextAndChildren) {
    XmlDocument doc;
    ASSERT_TRUE(doc.load_xml("<r><a>one<!--c--><b>two</b></a><e/><t><![CDATA[x<y]]></t></r>"));
    EXPECT_EQ(doc.get_text(), "onetwox<y");
    EXPECT_EQ(doc.get_node_text("a"), "one");
    EXPECT_EQ(doc.get_node_text("e"), "");
    EXPECT_EQ(doc.get_node_text("r"), ""); // the first child is an element
    EXPECT_EQ(doc.get_node_text("t"), "x<y");
    std::vector<std::string> names;
    EXPECT_EQ(doc.list_children("a", names), 3);
    EXPECT_EQ(names, (std::vector<std::string>{"#text", "#comment", "b"}));
    EXPECT_EQ(doc.child_count("r"), 3);
    EXPECT_EQ(doc.select_node("a").text(), "onetwo");

    EXPECT_TRUE(doc.set_node_text("a", "uno"));
    EXPECT_FALSE(doc.set_node_text("e", "x")); // no first child
    EXPECT_FALSE(doc.set_node_text("r", "x")); // the first child is an element
    EXPECT_EQ(doc.get_node_text("a"), "uno");

    ASSERT_TRUE(doc.add_element("e", "n", "5 < 6"));
    EXPECT_EQ(doc.get_node_text("e/n"), "5 < 6");
    ASSERT_TRUE(doc.add_element("r", "a", "first", true)); // a second "a": the CDATA goes into the new one
    ASSERT_TRUE(doc.add_element("r", "a", "second", true));
    names.clear();
    EXPECT_EQ(doc.list_children("r", names), 5);
    EXPECT_EQ(doc.get_node_text("r/a[2]"), "first");
    EXPECT_EQ(doc.get_node_text("r/a[3]"), "second");
    EXPECT_EQ(doc.list_children("r/a[3]", names), 1);
    EXPECT_EQ(names, (std::vector<std::string>{"#cdata-section"}));
    EXPECT_FALSE(doc.add_element("r", "bad name", ""));
    EXPECT_FALSE(doc.add_element("a/@x", "n", ""));
}

TEST(XmlDocument, RenameRemoveCloneReplace) {
    XmlDocument doc;
    ASSERT_TRUE(doc.load_xml(R"(<r><p><old k="1" j="2">t<c/></old></p><p><new/></p></r>)"));
    XmlNode old = doc.select_node("old");
    // Renamed in place: attributes, text and child elements all kept.
    ASSERT_TRUE(doc.rename_element("p/old", "new"));
    EXPECT_EQ(doc.get_xml(), "<r><p><new k=\"1\" j=\"2\">t<c/></new></p><p><new/></p></r>\r\n");
    EXPECT_EQ(old.node_name(), "new");
    EXPECT_FALSE(doc.rename_element("new", "1x"));

    XmlNode parent = doc.parent_node("new");
    EXPECT_EQ(parent.node_name(), "p");
    EXPECT_EQ(doc.parent_node("r").node_name(), "#document");

    XmlNode clone = doc.clone_node(doc.select_node("new"));
    EXPECT_EQ(clone.node_name(), "new");
    EXPECT_EQ(doc.parent_name(clone), "");
    EXPECT_EQ(doc.clone_node(doc.select_node("new/@k")).node_value(), "1");
    EXPECT_TRUE(doc.clone_node(doc.get_document()).empty());
    // Clones live outside the tree: no path finds them, no output shows them.
    EXPECT_EQ(doc.get_xml(), "<r><p><new k=\"1\" j=\"2\">t<c/></new></p><p><new/></p></r>\r\n");

    // A detached element takes attributes too.
    EXPECT_TRUE(clone.setAttributeNode(doc.get_document().createAttribute("z")).empty());

    XmlNode second = doc.select_node("p[2]/new");
    XmlNode replaced = doc.replace_node(second, clone);
    EXPECT_TRUE(replaced.same_node(second));
    EXPECT_EQ(doc.get_xml(),
              "<r><p><new k=\"1\" j=\"2\">t<c/></new></p><p><new k=\"1\" j=\"2\" z=\"\"/></p></r>\r\n");
    EXPECT_EQ(doc.parent_name(second), "");
    EXPECT_TRUE(doc.replace_node(second, clone).empty()); // second is no longer in the tree
    EXPECT_TRUE(doc.replace_node(doc.select_node("c"), doc.root_element()).empty()); // into itself
    EXPECT_TRUE(doc.replace_node(doc.root_element(), XmlNode()).empty());

    XmlNode c = doc.select_node("c");
    ASSERT_TRUE(doc.remove_node("p/new/c"));
    EXPECT_EQ(c.node_name(), "c"); // still readable
    EXPECT_EQ(doc.parent_name(c), "");
    EXPECT_FALSE(doc.remove_node("new/@k")); // an attribute is not a child
    XmlNode inner = doc.select_node("p[2]/new");
    EXPECT_TRUE(doc.remove_node("p[2]"));
    EXPECT_EQ(doc.parent_name(inner), "p"); // a removed subtree keeps its shape
    EXPECT_EQ(doc.get_xml(), "<r><p><new k=\"1\" j=\"2\">t</new></p></r>\r\n");
}

TEST(XmlDocument, CopiesShareAndCloseReleases) {
    XmlDocument a = finder_document();
    XmlDocument b = a;
    ASSERT_TRUE(b.add_element("array", "more", "x"));
    EXPECT_EQ(a.child_count("array"), 2);
    XmlNode root = a.root_element();
    XmlNode document = a.get_document();
    a.close();
    EXPECT_EQ(a.root_name(), "");
    EXPECT_FALSE(a.add_element("array", "x", ""));
    EXPECT_FALSE(a.load_xml("<a/>"));
    EXPECT_TRUE(a.get_document().empty());
    EXPECT_EQ(b.root_name(), "array"); // the copy still holds the document
    EXPECT_EQ(root.node_name(), "array");
    EXPECT_FALSE(document.createAttribute("x").empty());
    // The document node follows a load through any copy.
    ASSERT_TRUE(b.load_xml("<other/>"));
    EXPECT_EQ(b.get_document().text(), "");
    EXPECT_EQ(b.root_name(), "other");
}

// Malformed and hostile documents fail like any unreadable text, promptly and in bounded memory.
TEST(XmlDocument, MalformedAndHostileDocuments) {
    std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    for (int i = 1; i < 10; ++i) {
        bomb += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) {
            bomb += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
        }
        bomb += "\">";
    }
    bomb += "]><lolz>&lol9;</lolz>";
    const std::string deep = [] {
        std::string s;
        for (int i = 0; i < 100'000; ++i) {
            s += "<a>";
        }
        for (int i = 0; i < 100'000; ++i) {
            s += "</a>";
        }
        return s;
    }();
    const std::string refused[] = {
        "",
        "   ",
        "<a>",
        "<a></b>",
        "<a/><b/>",
        "text<a/>",
        "<a/>text",
        "<a x='1' x='2'/>",
        "<a x=1/>",
        "<1a/>",
        "<a>\xFF</a>",
        bomb,
        "<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>",
        deep,
        "<a>" + std::string(XmlDocument::max_text_bytes, 'x') + "</a>",
    };
    for (const std::string& text : refused) {
        XmlDocument doc;
        ASSERT_TRUE(doc.new_document("kept"));
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(doc.load_xml(text)) << text.substr(0, 60);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
        EXPECT_EQ(doc.root_name(), "kept");
    }
    XmlDocument doc;
    EXPECT_TRUE(doc.load_xml("<!DOCTYPE html><html><p>&lt;&#x4E2D;&#25991;</p></html>"));
    EXPECT_EQ(doc.get_node_text("p"), "<中文");
    std::string at_limit;
    for (std::size_t i = 0; i + 1 < XmlDocument::max_depth; ++i) {
        at_limit += "<a>";
    }
    for (std::size_t i = 0; i + 1 < XmlDocument::max_depth; ++i) {
        at_limit += "</a>";
    }
    EXPECT_TRUE(doc.load_xml(at_limit));
}

} // namespace
