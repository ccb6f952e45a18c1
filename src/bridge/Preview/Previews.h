// Previews and thumbnails of found files. Pictures are read out of the scanned device through a
// data-recovery object made for this one call (never one that a recovery copies with) and decoded
// from memory; raw camera files, Photoshop files and movies are copied, within limits, into private
// temporary files for the decoder. Whatever fails, the icon of the file's extension stands in.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/ResultTree/IIconProvider.h"
#include "engine/Common/Types.h"

class IDataRecovery;
class IFileNode;

namespace preview {

// Pictures decoded from bytes read into the shared picture buffer (its size).
inline constexpr i64 kPictureLimit = 104857600;
// Pictures read into memory of their own by GetPictureThumb: below this size.
inline constexpr i64 kPictureThumbLimit = 209715200;
// The bytes of a movie copied for its thumbnail, unless the whole file is smaller.
inline constexpr i64 kMovieHead = 2097152;
// An AVI up to this size is copied whole (its index sits at the end).
inline constexpr i64 kAviWholeLimit = 52428800;

using RecoveryObject = std::shared_ptr<IDataRecovery>;

// The icon of the lower-cased extension of node's name ("" without one); null without a provider.
IconImage IconForNode(IFileNode* node);
// The lower-cased text after the last "." of node's name; nothing when the name has no ".".
std::optional<std::string> NodeExtension(IFileNode* node);
// A new data-recovery object for reading node, held by no one else: from the scan's controller for
// the node's searcher type (deep scans), or a duplicate of the scan's object of the node's root
// (quick scans). Null without a scan or when none can be made.
RecoveryObject NewRecoveryObject(IFileNode* node);
// The bytes of a movie copied for its thumbnail; nothing when dotExtension (lower-cased, with its
// dot) is not ".mov", ".m4v", ".mp4" or ".avi".
std::optional<i64> MovieCopyLimit(const std::string& dotExtension, i64 size);
// Where a file that still exists on its volume can be read: the volume's mount point (from the
// kernel's mount table) followed by the node's folder and file names. Nothing for a deleted node, a
// raw or tagged find, a volume that is not mounted (or not told apart by its name on a scanned disk),
// or a name that could leave the mount point ("", ".", ".." or one holding "/").
std::optional<std::string> LiveFilePath(IFileNode* node);

}  // namespace preview

// A raw camera or Photoshop file: copied whole (up to 100 MiB) into a private temporary file that
// the decoder reads; its icon when that gives no usable image.
IconImage GetRawPicThumb(IFileNode* node);
// A movie: its first 2 MiB (an AVI up to 50 MiB whole) copied for the decoder; its icon otherwise.
// One movie at a time.
IconImage GetVideoThumb(IFileNode* node);
// A picture from its live file when it still exists on a mounted volume with the found size, else
// read through the engine (below 200 MiB) into memory of its own; its icon when that gives no usable
// image.
IconImage GetPictureThumb(IFileNode* node);
// The thumbnail of a found file by its category and extension (see KXUIController).
IconImage PreviewImageOfNode(IFileNode* node);
// The decoder's image of the file at path; null without a decoder.
IconImage ThumbnailOfFile(const std::string& path);
