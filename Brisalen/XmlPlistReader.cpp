#include "Brisalen/XmlPlistReader.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include "platform/CivilDate.h"

namespace {

// Every element is at least one '<' (a dictionary entry four). Counting
// them bounds libxml2's tree, the largest thing a parse holds, before it is
// built. At the bounds a parse peaks near 130 MiB and 2 s (262,000 string
// values); a real backup's list has a few thousand tags.
constexpr size_t kMaxXmlTags = 2 * kMaxPlistNodes;
// Seconds from 1970-01-01 to 2001-01-01, the origin of property-list dates.
constexpr int64_t kAppleEpochFromUnix = 978307200;

struct ParserCtxtFree {
    void operator()(xmlParserCtxtPtr ctxt) const { xmlFreeParserCtxt(ctxt); }
};
struct DocFree {
    void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};

// What the parser callbacks tell the reader; reached through ctxt->_private.
struct ParseState {
    bool entityDeclared = false;
    std::string firstError;
};

ParseState& StateOf(void* ctx) {
    return *static_cast<ParseState*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
}

void RefuseEntity(void* ctx) {
    StateOf(ctx).entityDeclared = true;
    xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
}

void OnEntityDecl(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) { RefuseEntity(ctx); }

void OnUnparsedEntityDecl(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*, const xmlChar*) {
    RefuseEntity(ctx);
}

// Nothing outside the document is ever opened.
xmlParserInputPtr ResolveNothing(void*, const xmlChar*, const xmlChar*) { return nullptr; }
void SkipExternalSubset(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}

void KeepFirstError(void* userData, xmlErrorPtr error) {
    if (userData == nullptr || error == nullptr) return;
    ParseState& state = StateOf(userData);
    if (!state.firstError.empty()) return;
    state.firstError = error->message != nullptr ? error->message : "unknown XML error";
    while (!state.firstError.empty() && (state.firstError.back() == '\n' || state.firstError.back() == ' ')) {
        state.firstError.pop_back();
    }
    if (state.firstError.empty()) state.firstError = "XML error";
    state.firstError += " (line " + std::to_string(error->line) + ")";
}

bool IsElement(xmlNodePtr node, const char* name) {
    return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string_view Trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(blanks);
    return std::string_view(text).substr(first, last - first + 1);
}

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Base64 with blanks anywhere and optional '=' padding at the end.
bool DecodeBase64(const std::string& text, std::vector<char>& out) {
    uint32_t bits = 0;
    int pending = 0;
    bool padded = false;
    for (unsigned char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            padded = true;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0 || padded) return false;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            out.push_back(static_cast<char>((bits >> pending) & 0xFF));
        }
    }
    return pending < 6;
}

bool ParseDigits(std::string_view text, int& value) {
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    return parsed.ec == std::errc() && parsed.ptr == text.data() + text.size() && text.size() > 0 &&
           text[0] != '-' && text[0] != '+';
}

// "YYYY-MM-DDTHH:MM:SSZ" as seconds since 2001-01-01.
bool ParseDate(std::string_view text, int64_t& seconds) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z') {
        return false;
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ParseDigits(text.substr(0, 4), year) || !ParseDigits(text.substr(5, 2), month) ||
        !ParseDigits(text.substr(8, 2), day) || !ParseDigits(text.substr(11, 2), hour) ||
        !ParseDigits(text.substr(14, 2), minute) || !ParseDigits(text.substr(17, 2), second)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > platform::DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 60) {
        return false;
    }
    seconds = platform::DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
              kAppleEpochFromUnix;
    return true;
}

// Turns the libxml2 tree below <plist> into libplist nodes. Anything a
// property list cannot hold refuses the whole document.
class CXmlToPlist {
public:
    PlistPtr Convert(xmlNodePtr root) {
        if (root == nullptr || !IsElement(root, "plist")) return Fail("the root element is not <plist>");
        xmlNodePtr value = nullptr;
        for (xmlNodePtr child = root->children; child != nullptr; child = child->next) {
            if (child->type == XML_ENTITY_REF_NODE) return Fail("an entity reference");
            if (child->type != XML_ELEMENT_NODE) continue;
            if (value != nullptr) return Fail("<plist> holds more than one value");
            value = child;
        }
        if (value == nullptr) return Fail("<plist> is empty");
        return Value(value, 1);
    }
    const std::string& Why() const { return why_; }

private:
    PlistPtr Fail(const char* why) {
        if (why_.empty()) why_ = why;
        return nullptr;
    }

    PlistPtr Count(plist_t node) {
        PlistPtr owned(node);
        if (owned == nullptr) return Fail("out of memory");
        if (++nodes_ > kMaxPlistNodes) return Fail("too many nodes");
        return owned;
    }

    // The element's text: its text and CDATA children, nothing else.
    bool Text(xmlNodePtr element, std::string& text) {
        for (xmlNodePtr child = element->children; child != nullptr; child = child->next) {
            if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
                if (child->content != nullptr) text += reinterpret_cast<const char*>(child->content);
            } else if (child->type == XML_COMMENT_NODE || child->type == XML_PI_NODE) {
                continue;
            } else {
                Fail(child->type == XML_ENTITY_REF_NODE ? "an entity reference" : "markup inside a text value");
                return false;
            }
        }
        return true;
    }

    PlistPtr Value(xmlNodePtr element, int depth) {
        if (depth > kMaxPlistDepth) return Fail("nested too deeply");
        if (IsElement(element, "dict")) return Dict(element, depth);
        if (IsElement(element, "array")) return Array(element, depth);
        if (IsElement(element, "true")) return Count(plist_new_bool(1));
        if (IsElement(element, "false")) return Count(plist_new_bool(0));
        std::string text;
        if (!Text(element, text)) return nullptr;
        if (IsElement(element, "string")) return Count(plist_new_string(text.c_str()));
        if (IsElement(element, "integer")) return Integer(Trimmed(text));
        if (IsElement(element, "real")) return Real(Trimmed(text));
        if (IsElement(element, "date")) return Date(Trimmed(text));
        if (IsElement(element, "data")) return Data(text);
        return Fail("an element a property list does not have");
    }

    PlistPtr Dict(xmlNodePtr element, int depth) {
        PlistPtr dict = Count(plist_new_dict());
        if (dict == nullptr) return nullptr;
        xmlNodePtr key = nullptr;
        for (xmlNodePtr child = element->children; child != nullptr; child = child->next) {
            if (child->type == XML_ENTITY_REF_NODE) return Fail("an entity reference");
            if (child->type != XML_ELEMENT_NODE) continue;
            if (key == nullptr) {
                if (!IsElement(child, "key")) return Fail("a dictionary value without a key");
                key = child;
                continue;
            }
            std::string name;
            if (!Text(key, name)) return nullptr;
            PlistPtr value = Value(child, depth + 1);
            if (value == nullptr) return nullptr;
            plist_dict_set_item(dict.get(), name.c_str(), value.release());
            key = nullptr;
        }
        if (key != nullptr) return Fail("a dictionary key without a value");
        return dict;
    }

    PlistPtr Array(xmlNodePtr element, int depth) {
        PlistPtr array = Count(plist_new_array());
        if (array == nullptr) return nullptr;
        for (xmlNodePtr child = element->children; child != nullptr; child = child->next) {
            if (child->type == XML_ENTITY_REF_NODE) return Fail("an entity reference");
            if (child->type != XML_ELEMENT_NODE) continue;
            PlistPtr value = Value(child, depth + 1);
            if (value == nullptr) return nullptr;
            plist_array_append_item(array.get(), value.release());
        }
        return array;
    }

    // Decimal, or hexadecimal after "0x"; a minus sign for negative values,
    // which libplist keeps in the same 64 bits.
    PlistPtr Integer(std::string_view text) {
        const bool negative = !text.empty() && text[0] == '-';
        if (negative || (!text.empty() && text[0] == '+')) text.remove_prefix(1);
        int base = 10;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            text.remove_prefix(2);
            base = 16;
        }
        uint64_t magnitude = 0;
        const auto parsed = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
        if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
            return Fail("an integer that is not a number");
        }
        if (negative && magnitude > uint64_t{1} << 63) return Fail("an integer out of range");
        return Count(plist_new_uint(negative ? ~magnitude + 1 : magnitude));
    }

    PlistPtr Real(std::string_view text) {
        double value = 0;
        const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
            return Fail("a real that is not a number");
        }
        return Count(plist_new_real(value));
    }

    // libplist keeps dates in 32-bit seconds from 2001, as its binary
    // reader hands them out; a date beyond that range wraps the same way.
    PlistPtr Date(std::string_view text) {
        int64_t seconds = 0;
        if (!ParseDate(text, seconds)) return Fail("a date not of the form YYYY-MM-DDTHH:MM:SSZ");
        return Count(plist_new_date(static_cast<int32_t>(static_cast<uint32_t>(seconds)), 0));
    }

    PlistPtr Data(const std::string& text) {
        std::vector<char> bytes;
        if (!DecodeBase64(text, bytes)) return Fail("data that is not base64");
        return Count(plist_new_data(bytes.data(), bytes.size()));
    }

    size_t nodes_ = 0;
    std::string why_;
};

// Messages libxml2 sends to its thread's generic handler (stderr unless
// set), outside any parser context, are dropped while a document is read;
// the thread's own handler is back afterwards.
class CQuietGenericErrors {
public:
    CQuietGenericErrors() : savedFunc_(xmlGenericError), savedContext_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, Ignore);
    }
    ~CQuietGenericErrors() { xmlSetGenericErrorFunc(savedContext_, savedFunc_); }
    CQuietGenericErrors(const CQuietGenericErrors&) = delete;
    CQuietGenericErrors& operator=(const CQuietGenericErrors&) = delete;

private:
    static void Ignore(void*, const char*, ...) {}
    xmlGenericErrorFunc savedFunc_;
    void* savedContext_;
};

size_t CountTags(const char* data, size_t size) {
    size_t tags = 0;
    for (const char* at = data; (at = static_cast<const char*>(std::memchr(at, '<', size - (at - data)))) != nullptr;
         ++at) {
        if (++tags > kMaxXmlTags) break;
    }
    return tags;
}

}  // namespace

PlistPtr CXmlPlistReader::Read(const char* data, size_t size) {
    m_strWhy.clear();
    if (data == nullptr || size == 0 || size > static_cast<size_t>(INT_MAX)) {
        m_strWhy = "no XML to read";
        return nullptr;
    }
    if (CountTags(data, size) > kMaxXmlTags) {
        m_strWhy = "too many tags";
        return nullptr;
    }
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });

    const CQuietGenericErrors quiet;
    std::unique_ptr<xmlParserCtxt, ParserCtxtFree> ctxt(xmlNewParserCtxt());
    if (ctxt == nullptr || ctxt->sax == nullptr) {
        m_strWhy = "out of memory";
        return nullptr;
    }
    ParseState state;
    ctxt->_private = &state;
    xmlSAXHandler& sax = *ctxt->sax;
    sax.entityDecl = OnEntityDecl;
    sax.unparsedEntityDecl = OnUnparsedEntityDecl;
    sax.resolveEntity = ResolveNothing;
    sax.externalSubset = SkipExternalSubset;
    sax.serror = KeepFirstError;
    sax.warning = nullptr;
    sax.error = nullptr;
    sax.fatalError = nullptr;
    // Without NOENT, DTDLOAD or HUGE: entities stay references, no DTD is
    // read, and libxml2 keeps its default limits on depth and text size.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS;
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlCtxtReadMemory(ctxt.get(), data, static_cast<int>(size), nullptr, nullptr, options));
    if (state.entityDeclared || (doc != nullptr && doc->intSubset != nullptr &&
                                 (doc->intSubset->entities != nullptr || doc->intSubset->pentities != nullptr))) {
        m_strWhy = "the document declares entities";
        return nullptr;
    }
    if (doc == nullptr) {
        m_strWhy = state.firstError.empty() ? "not well-formed XML" : state.firstError;
        return nullptr;
    }
    CXmlToPlist converter;
    PlistPtr plist = converter.Convert(xmlDocGetRootElement(doc.get()));
    if (plist == nullptr) m_strWhy = converter.Why();
    return plist;
}
