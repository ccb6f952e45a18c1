#include "platform/foundation/PropertyList.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/foundation/AtomicFile.h"

namespace brelvox::foundation {

PropertyList::PropertyList() : m_node(plist_new_dict()) {}

PropertyList::PropertyList(plist_t node) : m_node(node ? node : plist_new_dict()) {}

PropertyList::~PropertyList() {
    if (m_node) plist_free(m_node);
}

PropertyList::PropertyList(const PropertyList& other) : m_node(plist_copy(other.m_node)) {}

PropertyList& PropertyList::operator=(const PropertyList& other) {
    if (this != &other) {
        plist_t copy = plist_copy(other.m_node);
        if (m_node) plist_free(m_node);
        m_node = copy;
    }
    return *this;
}

PropertyList::PropertyList(PropertyList&& other) noexcept : m_node(std::exchange(other.m_node, plist_new_dict())) {}

PropertyList& PropertyList::operator=(PropertyList&& other) noexcept {
    std::swap(m_node, other.m_node);
    return *this;
}

std::optional<PropertyList> PropertyList::Parse(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > kMaxFileBytes) return std::nullopt;
    plist_t node = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
    if (!node) return std::nullopt;
    PropertyList list(node);
    // A key or string holding a NUL (a binary list may store one) makes libplist's getters assert:
    // such a list is refused as corrupt. Its XML form shows the NUL.
    const std::string xml = list.Serialize(PlistFormat::Xml);
    if (xml.find('\0') != std::string::npos) return std::nullopt;
    return list;
}

std::optional<PropertyList> PropertyList::Load(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes, kMaxFileBytes)) return std::nullopt;
    return Parse(bytes);
}

std::string PropertyList::Serialize(PlistFormat format) const {
    char* data = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::Xml) {
        plist_to_xml(m_node, &data, &length);
    } else {
        plist_to_bin(m_node, &data, &length);
    }
    std::string bytes = data ? std::string(data, length) : std::string();
    if (format == PlistFormat::Xml) {
        plist_to_xml_free(data);
    } else {
        plist_to_bin_free(data);
    }
    return bytes;
}

bool PropertyList::Save(const std::string& path, PlistFormat format, std::string* error) const {
    const std::string bytes = Serialize(format);
    if (bytes.empty()) {
        if (error) *error = "the property list could not be serialised";
        return false;
    }
    return WriteFileAtomically(path, bytes, error);
}

bool PropertyList::IsDictionary() const {
    return plist_get_node_type(m_node) == PLIST_DICT;
}

plist_t PropertyList::Item(const std::string& key) const {
    if (!IsDictionary()) return nullptr;
    return plist_dict_get_item(m_node, key.c_str());
}

void PropertyList::Set(const std::string& key, plist_t item) {
    if (!IsDictionary()) {
        plist_free(m_node);
        m_node = plist_new_dict();
    }
    plist_dict_set_item(m_node, key.c_str(), item);
}

bool PropertyList::Has(const std::string& key) const {
    return Item(key) != nullptr;
}

std::vector<std::string> PropertyList::Keys() const {
    std::vector<std::string> keys;
    if (!IsDictionary()) return keys;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(m_node, &it);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(m_node, it, &key, &value);
        if (!key) break;
        keys.emplace_back(key);
        free(key);
    }
    free(it);
    return keys;
}

namespace {

// The text of a string node up to its first NUL. libplist's own getter asserts that a string holds no
// NUL, and a binary list read from a file may hold one: its pointer and length are read instead.
std::string StringValue(plist_t node) {
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (text == nullptr) return {};
    return std::string(text, strnlen(text, static_cast<size_t>(length)));
}

}  // namespace

std::optional<std::string> PropertyList::GetString(const std::string& key) const {
    plist_t item = Item(key);
    if (!item || plist_get_node_type(item) != PLIST_STRING) return std::nullopt;
    return StringValue(item);
}

std::optional<bool> PropertyList::GetBool(const std::string& key) const {
    plist_t item = Item(key);
    if (!item || plist_get_node_type(item) != PLIST_BOOLEAN) return std::nullopt;
    uint8_t value = 0;
    plist_get_bool_val(item, &value);
    return value != 0;
}

std::optional<int64_t> PropertyList::GetInteger(const std::string& key) const {
    plist_t item = Item(key);
    if (!item) return std::nullopt;
    if (plist_get_node_type(item) == PLIST_UINT) {
        uint64_t value = 0;
        plist_get_uint_val(item, &value);
        return static_cast<int64_t>(value);
    }
    if (const auto text = GetString(key)) {
        errno = 0;
        char* end = nullptr;
        const long long value = std::strtoll(text->c_str(), &end, 10);
        if (end != text->c_str() && *end == '\0' && errno == 0) return value;
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> PropertyList::GetStringArray(const std::string& key) const {
    plist_t item = Item(key);
    if (!item || plist_get_node_type(item) != PLIST_ARRAY) return std::nullopt;
    std::vector<std::string> values;
    const uint32_t count = plist_array_get_size(item);
    for (uint32_t i = 0; i < count; ++i) {
        plist_t element = plist_array_get_item(item, i);
        if (!element || plist_get_node_type(element) != PLIST_STRING) continue;
        values.push_back(StringValue(element));
    }
    return values;
}

std::optional<PropertyList> PropertyList::GetValue(const std::string& key) const {
    plist_t item = Item(key);
    if (!item) return std::nullopt;
    return PropertyList(plist_copy(item));
}

void PropertyList::SetString(const std::string& key, const std::string& value) {
    Set(key, plist_new_string(value.c_str()));
}

void PropertyList::SetBool(const std::string& key, bool value) {
    Set(key, plist_new_bool(value ? 1 : 0));
}

void PropertyList::SetInteger(const std::string& key, int64_t value) {
    Set(key, plist_new_uint(static_cast<uint64_t>(value)));
}

void PropertyList::SetStringArray(const std::string& key, const std::vector<std::string>& values) {
    plist_t array = plist_new_array();
    for (const auto& v : values) plist_array_append_item(array, plist_new_string(v.c_str()));
    Set(key, array);
}

void PropertyList::SetValue(const std::string& key, const PropertyList& value) {
    Set(key, plist_copy(value.m_node));
}

void PropertyList::Remove(const std::string& key) {
    if (Item(key)) plist_dict_remove_item(m_node, key.c_str());
}

bool PropertyList::operator==(const PropertyList& other) const {
    return Serialize(PlistFormat::Xml) == other.Serialize(PlistFormat::Xml);
}

}  // namespace brelvox::foundation
