#include "bridge/Preview/IImageDecoder.h"

#include <atomic>

namespace {

std::atomic<IImageDecoder*> g_decoder{nullptr};

}  // namespace

IImageDecoder* GetImageDecoder() {
    return g_decoder.load();
}

void SetImageDecoder(IImageDecoder* decoder) {
    g_decoder.store(decoder);
}

bool IsUsableImage(const IconImage& image) {
    return image && image->Width() > 0 && image->Height() > 0;
}
