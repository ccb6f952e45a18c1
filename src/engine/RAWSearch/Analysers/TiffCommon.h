// The rules that the streaming TIFF analyser and its device fallback share: the camera text they
// keep, the raw type a camera make gives, and the start of an embedded JPEG.
#pragma once

#include <string>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"

// A make read from a file (at most 63 bytes, up to its first zero): upper-cased, cleaned for a file
// name; empty when a character other than letters, digits, blank, ",", "-", ".", "@" and "_" remains,
// or when it is longer than 30 characters.
std::string CleanCameraMake(const std::string& raw);
// A model read from a file: cleaned for a file name; empty when a disallowed character remains or it
// is longer than maxLength characters.
std::string CleanCameraModel(const std::string& raw, size_t maxLength);
// The text of at most 63 bytes, up to its first zero byte.
std::string CameraText(const ByteReader& bytes);

// The type a camera make gives (DNG before any make); `unmatched` when no make matches.
RAW_FILE_TYPE CameraRawType(const std::string& make, const std::string& model, bool dng, bool panasonicHeader,
                            RAW_FILE_TYPE unmatched);

// True when the bytes begin FF D8 FF E0, FF D8 FF E1 or FF D8 FF DB.
bool IsEmbeddedJpegStart(const ByteReader& bytes);
