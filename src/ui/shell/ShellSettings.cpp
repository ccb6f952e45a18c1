#include "ui/shell/ShellSettings.h"

#include "platform/foundation/ResourcePropertyList.h"
#include "platform/foundation/UserDefaults.h"

namespace shell {

namespace {

Settings g_settings;

}  // namespace

brelvox::foundation::UserDefaults& Settings::Defaults() {
    return g_settings.defaults ? *g_settings.defaults : brelvox::foundation::UserDefaults::Standard();
}

brelvox::foundation::ResourcePropertyList& Settings::PrivateData() {
    return g_settings.privateData ? *g_settings.privateData : brelvox::foundation::ResourcePropertyList::PrivateData();
}

ScopedSettings::ScopedSettings(Settings settings) : m_previous(g_settings) {
    g_settings = settings;
}

ScopedSettings::~ScopedSettings() {
    g_settings = m_previous;
}

}  // namespace shell
