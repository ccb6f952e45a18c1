// A property list value (usually a dictionary) over libplist: parsed from XML or binary bytes,
// written as either, with typed access to the keys of a dictionary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <plist/plist.h>

namespace brelvox::foundation {

enum class PlistFormat { Xml, Binary };

class PropertyList {
public:
    // Files larger than this are refused (settings and resource lists are small).
    static constexpr size_t kMaxFileBytes = 16u << 20;

    // An empty dictionary.
    PropertyList();
    // Takes ownership of node (null makes an empty dictionary).
    explicit PropertyList(plist_t node);
    ~PropertyList();
    PropertyList(const PropertyList& other);
    PropertyList& operator=(const PropertyList& other);
    PropertyList(PropertyList&& other) noexcept;
    PropertyList& operator=(PropertyList&& other) noexcept;

    // XML or binary bytes; nothing when they are not a property list.
    static std::optional<PropertyList> Parse(const std::string& bytes);
    // A file of either format; nothing when it is missing, too large or not a property list.
    static std::optional<PropertyList> Load(const std::string& path);

    std::string Serialize(PlistFormat format) const;
    // Writes atomically (temporary file and rename): a failed write leaves the old file whole.
    bool Save(const std::string& path, PlistFormat format, std::string* error = nullptr) const;

    bool IsDictionary() const;
    plist_t Node() const { return m_node; }

    // Dictionary access; on a value that is not a dictionary every getter answers nothing.
    bool Has(const std::string& key) const;
    std::vector<std::string> Keys() const;
    std::optional<std::string> GetString(const std::string& key) const;
    std::optional<bool> GetBool(const std::string& key) const;
    // A number, or a text holding a decimal number.
    std::optional<int64_t> GetInteger(const std::string& key) const;
    // The strings of an array (other elements skipped); nothing when the key holds no array.
    std::optional<std::vector<std::string>> GetStringArray(const std::string& key) const;
    std::optional<PropertyList> GetValue(const std::string& key) const;

    void SetString(const std::string& key, const std::string& value);
    void SetBool(const std::string& key, bool value);
    void SetInteger(const std::string& key, int64_t value);
    void SetStringArray(const std::string& key, const std::vector<std::string>& values);
    void SetValue(const std::string& key, const PropertyList& value);
    void Remove(const std::string& key);

    // Equal contents (compared through their XML form).
    bool operator==(const PropertyList& other) const;

private:
    plist_t Item(const std::string& key) const;
    void Set(const std::string& key, plist_t item);

    plist_t m_node = nullptr;
};

}  // namespace brelvox::foundation
