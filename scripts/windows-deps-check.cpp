// Links libplist, libxml2 and fmt as a Windows program does and uses each
// once: scripts/build-windows-deps.sh builds it against a fresh prefix and,
// on x86_64, runs it under Wine before it marks the prefix complete.
#include <cstdio>
#include <cstring>
#include <string>
#include <fmt/format.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <plist/plist.h>

int main() {
    static const char xml[] = "<?xml version=\"1.0\"?><root><item>42</item></root>";
    xmlDocPtr doc = xmlParseMemory(xml, static_cast<int>(sizeof(xml) - 1));
    if (!doc) { std::puts("libxml2: parse failed"); return 1; }
    xmlNodePtr root = xmlDocGetRootElement(doc);
    std::string root_name = root ? reinterpret_cast<const char*>(root->name) : "";
    xmlFreeDoc(doc);
    xmlCleanupParser();

    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "Name", plist_new_string("value"));
    char* out = nullptr;
    uint32_t len = 0;
    plist_to_xml(dict, &out, &len);
    bool plist_ok = out && std::strstr(out, "<key>Name</key>") != nullptr;
    plist_to_xml_free(out);
    plist_free(dict);

    std::string msg = fmt::format("fmt {} | libxml2 {} root={} | plist xml {} bytes",
                                  FMT_VERSION, LIBXML_DOTTED_VERSION, root_name, len);
    std::puts(msg.c_str());
    if (root_name != "root" || !plist_ok) { std::puts("depcheck: FAILED"); return 1; }
    std::puts("depcheck: ok");
    return 0;
}
