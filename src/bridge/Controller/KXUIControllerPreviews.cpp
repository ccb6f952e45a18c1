#include "bridge/Controller/KXUIController.h"
#include "bridge/Preview/Previews.h"

IconImage KXUIController::GetNSImageByFildNode(IFileNode* node) {
    return PreviewImageOfNode(node);
}

IconImage KXUIController::GetNSImageByFildNodeNSNumber(std::uintptr_t address) {
    return GetNSImageByFildNode(reinterpret_cast<IFileNode*>(address));
}

IconImage KXUIController::GetNSImageByNode(const OpNodeData* node) {
    return node ? GetNSImageByFildNode(node->fileNode()) : nullptr;
}

IconImage KXUIController::getVideoThumbFromPath(const std::string& path) {
    return ThumbnailOfFile(path);
}
