// Built with libxml2's tree interface and serialised formatted in one call.
// Values are narrowed one character per byte (the low eight bits); escaping is
// the serialiser's. The bytes are written by the component itself, so the path
// is only ever a file path: never a URL, never "-" for standard output.
#include "framework/discovery_report.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

#include "framework/file_io.h"

namespace hbafw {

namespace {

// XML 1.0 cannot carry control characters other than tab, newline and
// carriage return, not even escaped; a tool that prints one gets '?' in its
// place, so the report stays well-formed.
std::string NarrowBytes(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        auto byte = static_cast<unsigned char>(c & 0xFF);
        bool carried = byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r';
        out.push_back(carried ? static_cast<char>(byte) : '?');
    }
    return out;
}

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

// Remembers any node the library could not create, so a partial report is
// never reported as written.
class ReportBuilder {
public:
    bool ok() const { return ok_; }

    xmlNode* Child(xmlNode* parent, const char* name) {
        xmlNode* child = parent != nullptr ? xmlNewChild(parent, nullptr, X(name), nullptr) : nullptr;
        ok_ = ok_ && child != nullptr;
        return child;
    }

    void Value(xmlNode* parent, const char* name, const std::wstring& value) {
        xmlNode* child = Child(parent, name);
        ok_ = ok_ && child != nullptr && xmlNewProp(child, X("value"), X(NarrowBytes(value).c_str())) != nullptr;
    }

    void Item(xmlNode* device, const FirmwareItem& item) {
        xmlNode* node = Child(device, "fw_item");
        Value(node, "type", item.type);
        Value(node, "firmware_id", item.firmware_id);
        Value(node, "version", item.version);
        Value(node, "active_version", item.active_version);
        Value(node, "action", item.action);
        Value(node, "duration", item.duration);
        Value(node, "message", item.message);
        Value(node, "shared", item.shared);
    }

    void Device(xmlNode* devices, const DiscoveredDevice& device) {
        xmlNode* node = Child(devices, "device");
        Value(node, "device_id", device.device_id);
        Value(node, "product_id", device.product_id);
        Value(node, "busnumber", device.busnumber);
        Value(node, "funcnumber", device.funcnumber);
        for (const FirmwareItem& item : device.fw_items) Item(node, item);
    }

private:
    bool ok_ = true;
};

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

// The bytes libxml2's formatted file save would write.
bool Serialise(xmlDoc* doc, std::string& text) {
    xmlChar* buffer = nullptr;
    int size = 0;
    xmlDocDumpFormatMemory(doc, &buffer, &size, 1);
    if (buffer == nullptr || size < 0) {
        xmlFree(buffer);
        return false;
    }
    text.assign(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
    xmlFree(buffer);
    return true;
}

}  // namespace

bool WriteDiscoveryReport(const DiscoveryResult& result, const std::string& path) {
    std::unique_ptr<xmlDoc, DocFree> doc(xmlNewDoc(nullptr));
    if (!doc) return false;
    xmlNode* root = xmlNewNode(nullptr, X("tellin_rom_discovery"));
    if (root == nullptr) return false;
    xmlDocSetRootElement(doc.get(), root);
    if (xmlNewProp(root, X("version"), X("2.0.0.0")) == nullptr) return false;

    ReportBuilder builder;
    builder.Value(root, "type", result.type);
    builder.Value(root, "alt_name", result.alt_name);
    builder.Value(root, "version", result.version);
    builder.Value(root, "takes_effect", result.takes_effect);
    xmlNode* devices = builder.Child(root, "devices");
    for (const DiscoveredDevice& device : result.devices) builder.Device(devices, device);
    if (!builder.ok()) return false;

    std::string text;
    return Serialise(doc.get(), text) && ReplaceFile(path, text);
}

}  // namespace hbafw
