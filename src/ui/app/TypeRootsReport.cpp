#include "ui/app/TypeRootsReport.h"

#include <fstream>

#include "bridge/ResultTree/IIconProvider.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "platform/foundation/Format.h"

namespace app {

std::string TypeRootsReport() {
    using brelvox::foundation::StringWithFormat;
    std::string report;
    const std::vector<OpNodeData::Ptr> roots = KXTypeMgr::share().getRootNode();
    for (size_t i = 0; i < roots.size() && i < std::size(KXTypeMgr::kRootBits); ++i) {
        const std::string icon = StringWithFormat("%dIconImage", roots[i]->nodeType());
        IIconProvider* provider = GetIconProvider();
        const IconImage image = provider ? provider->ImageNamed(icon) : nullptr;
        const std::string size = image ? StringWithFormat("%dx%d", image->Width(), image->Height()) : "none";
        report += StringWithFormat("%u\t%@\t%@\t%@\n", KXTypeMgr::kRootBits[i], roots[i]->name(), icon, size);
    }
    return report;
}

bool WriteTypeRootsReport(const std::string& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << TypeRootsReport();
    out.close();
    return bool(out);
}

}  // namespace app
