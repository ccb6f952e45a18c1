// The windows' texts by key (NSLocalizedString): the table of the interface language, then English,
// then the key itself (platform/foundation/Localization.h). Pass keys as literals: the resources
// check of the ui suites finds every key passed to these calls and requires an English text for it.
#pragma once

#include <QString>
#include <string>

#include "platform/foundation/Format.h"
#include "platform/foundation/Localization.h"

namespace kit {

inline QString localizedString(const std::string& key) {
    return QString::fromStdString(brelvox::foundation::Localized(key));
}

namespace detail {
inline std::string formatArgument(const QString& text) { return text.toStdString(); }
template <class T>
const T& formatArgument(const T& value) {
    return value;
}
}  // namespace detail

// The text of key used as a format (%@ %d %lld %llu %f, platform/foundation/Format.h), filled with
// the arguments; an argument is never read as a format.
template <class... Arguments>
QString localizedFormat(const std::string& key, const Arguments&... arguments) {
    return QString::fromStdString(brelvox::foundation::StringWithFormat(brelvox::foundation::Localized(key),
                                                                        detail::formatArgument(arguments)...));
}

}  // namespace kit
