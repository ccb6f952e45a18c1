// The one place where the program joins its parts: the seam's controller and the kit's services go
// into the process-wide hooks through which the operations layer and the result model reach the
// windows. main and the tests make it, on the main thread.
#pragma once

#include <functional>

#include "bridge/Device/VolumeNotifier.h"

class IIconProvider;
class IImageDecoder;
class IUIController;

namespace app {

struct CompositionArguments {
    // The statistics plugin's end call, run when the program closes and only when the user takes
    // part. Empty: there is none.
    std::function<void()> statisticsEnd;
    // The icon bytes of the volume mounted at a path, for the mount notices. Empty: no icons.
    volume_notifier::IconDataProvider copyIconDataForPath;
};

// Installs, in this order: the controller (the adapter over the operations layer), the kit's icon
// provider, the kit's image decoder, the volume icon provider, the quit hook (it leaves the
// application's event loop, nested modal runs included) and the statistics end hook.
//
// Make it with a QApplication, on the main thread, after the interface language is set and before
// anything touches KXTypeMgr::share(): the type tree takes the icon provider and names its seven
// roots through the controller once, at its first use. The adapter, the provider and the decoder
// live as long as the process (the type tree keeps the provider), so a later root installs the same
// ones. Destroying the root puts back the controller, provider and decoder installed before it and
// empties the three hooks.
class CompositionRoot {
public:
    explicit CompositionRoot(CompositionArguments arguments = {});
    ~CompositionRoot();
    CompositionRoot(const CompositionRoot&) = delete;
    CompositionRoot& operator=(const CompositionRoot&) = delete;

    IUIController& controller();

private:
    IUIController* m_previousController;
    IIconProvider* m_previousIcons;
    IImageDecoder* m_previousDecoder;
};

}  // namespace app
