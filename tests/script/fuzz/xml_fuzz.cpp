// libFuzzer target: XmlDocument::load_xml and path operations over the loaded document.
// Input: an XML text, then a NUL byte, then paths one per line.
#include "script/xml_document.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    std::string_view paths = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    vestrel::XmlDocument doc;
    doc.load_xml(input.substr(0, split));
    (void)doc.get_xml();
    (void)doc.get_text();
    std::vector<std::string> names;
    vestrel::XmlNode document = doc.get_document();
    while (!paths.empty()) {
        const std::size_t end = paths.find('\n');
        const std::string_view path = paths.substr(0, end);
        paths = end == std::string_view::npos ? std::string_view() : paths.substr(end + 1);
        vestrel::XmlNode node = doc.select_node(path);
        (void)node.text();
        (void)doc.parent_name(node);
        (void)doc.list_attributes(path, &names, &names);
        (void)doc.list_children(path, names);
        (void)doc.get_node_text(path);
        node.setAttributeNode(document.createAttribute("a" + std::to_string(path.size())));
        doc.clone_node(node);
        doc.set_attribute(path, "k", "v");
        doc.add_element(path, "n", "t", path.size() % 2 == 0);
        doc.rename_element(path, "renamed");
        doc.replace_node(doc.select_node(path), doc.root_element());
        doc.remove_node(path);
        (void)node.node_name();
    }
    (void)doc.get_xml();
    return 0;
}
