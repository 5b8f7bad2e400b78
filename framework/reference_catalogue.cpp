// Catalogue parsing with libxml2. No entity is ever expanded (a catalogue that
// declares one is refused: a few references to a large one would hold the run
// lock for minutes) and the network is never used; the parsed document is
// freed before returning.
#include "framework/reference_catalogue.h"

#include <libxml/parser.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <utility>

namespace hbafw {

namespace {

bool HasName(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && node->name != nullptr &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool DeclaresEntities(const xmlDoc* doc) {
    for (const xmlDtd* dtd : {doc->intSubset, doc->extSubset})
        if (dtd != nullptr && (dtd->entities != nullptr || dtd->pentities != nullptr)) return true;
    return false;
}

// A path element carries its text in a CDATA section; anything else leaves it empty.
void ReadCdataInto(const xmlNode* element, std::wstring& target, bool& sane) {
    const xmlNode* first = element->children;
    if (first != nullptr && first->type == XML_CDATA_SECTION_NODE && first->content != nullptr)
        target = WidenBytes(reinterpret_cast<const char*>(first->content));
    sane = sane && target.size() <= kMaxCatalogueValue;
}

ReferenceDevice ReadDevice(const xmlNode* deviceElement, bool& sane) {
    ReferenceDevice device;
    struct Field {
        const char* name;
        std::wstring ReferenceDevice::*member;
    };
    static constexpr Field kFields[] = {
        {"type", &ReferenceDevice::type},         {"device_id", &ReferenceDevice::device_id},
        {"model", &ReferenceDevice::model},       {"firmware", &ReferenceDevice::firmware},
        {"bios", &ReferenceDevice::bios},         {"boot", &ReferenceDevice::boot},
        {"duration", &ReferenceDevice::duration},
    };
    for (const xmlNode* child = deviceElement->children; child != nullptr; child = child->next) {
        for (const Field& field : kFields) {
            if (!HasName(child, field.name)) continue;
            device.*field.member = ReadValueAttribute(child, "value");
            sane = sane && (device.*field.member).size() <= kMaxCatalogueValue;
            if (field.member == &ReferenceDevice::bios && device.bios.empty()) device.biosPresent = 0;
        }
    }
    return device;
}

void ReadNode(const xmlNode* node, ReferenceCatalogue& catalogue, bool& sane) {
    if (HasName(node, "discovery_app_path")) {
        ReadCdataInto(node, catalogue.discovery_app_path, sane);
    } else if (HasName(node, "installer_app_path")) {
        ReadCdataInto(node, catalogue.installer_app_path, sane);
    } else if (HasName(node, "devices")) {
        for (const xmlNode* child = node->children; child != nullptr && sane; child = child->next)
            if (HasName(child, "device")) catalogue.devices.push_back(ReadDevice(child, sane));
    }
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

}  // namespace

std::wstring WidenBytes(const char* bytes) {
    std::wstring out;
    for (const char* p = bytes; *p != '\0'; ++p) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    return out;
}

std::wstring ReadValueAttribute(const xmlNode* element, const char* attributeName) {
    std::wstring value;
    for (const xmlAttr* attr = element->properties; attr != nullptr; attr = attr->next) {
        if (attr->name == nullptr || std::strcmp(reinterpret_cast<const char*>(attr->name), attributeName) != 0)
            continue;
        // Character and predefined references are already text; any other
        // entity reference is left out, never substituted.
        value.clear();
        for (const xmlNode* part = attr->children; part != nullptr; part = part->next)
            if (part->type == XML_TEXT_NODE && part->content != nullptr)
                value += WidenBytes(reinterpret_cast<const char*>(part->content));
    }
    return value;
}

bool LoadCatalogue(ReferenceCatalogue& catalogue, const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return false;

    xmlInitParser();
    std::unique_ptr<xmlDoc, DocFree> doc(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET));
    if (!doc || DeclaresEntities(doc.get())) return false;

    ReferenceCatalogue loaded = catalogue;
    bool sane = true;
    for (const xmlNode* node = doc->children; node != nullptr && sane; node = node->next) {
        if (HasName(node, "orvane_fchba_reference")) {
            for (const xmlNode* child = node->children; child != nullptr && sane; child = child->next)
                ReadNode(child, loaded, sane);
            break;
        }
        ReadNode(node, loaded, sane);
    }
    // The parser's global state is released once, at process end (see the entry point).
    if (!sane) return false;
    catalogue = std::move(loaded);
    return true;
}

}  // namespace hbafw
