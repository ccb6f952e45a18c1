#include "engine/Common/FileTypeManager.h"

std::string CFileTypeManager::strDocument;
std::string CFileTypeManager::strPics;
std::string CFileTypeManager::strMovies;
std::string CFileTypeManager::strMusic;
std::string CFileTypeManager::strArchives;
std::string CFileTypeManager::strEmail;

FILE_TYPE_ID FilterBitToFileType(u32 bit) {
    switch (bit) {
        case 1:
            return FILE_TYPE_DOCUMENT;
        case 2:
            return FILE_TYPE_PICTURE;
        case 4:
            return FILE_TYPE_MOVIE;
        case 8:
            return FILE_TYPE_MUSIC;
        case 16:
            return FILE_TYPE_ARCHIVE;
        case 32:
            return FILE_TYPE_EMAIL;
        default:
            return FILE_TYPE_OTHER;
    }
}

u32 FileTypeToFilterBit(u32 id) {
    switch (id) {
        case FILE_TYPE_DOCUMENT:
            return 1;
        case FILE_TYPE_PICTURE:
            return 2;
        case FILE_TYPE_MUSIC:
            return 8;
        case FILE_TYPE_MOVIE:
            return 4;
        case FILE_TYPE_ARCHIVE:
            return 16;
        case FILE_TYPE_EMAIL:
            return 32;
        default:
            return 64;
    }
}

void CFileTypeManager::Initialze(std::map<int, std::string>& lists) {
    strDocument = lists[1];
    strPics = lists[2];
    strMovies = lists[4];
    strMusic = lists[8];
    strArchives = lists[16];
    strEmail = lists[32];
}

int CFileTypeManager::Initialize() {
    Insert2Table(strPics, FILE_TYPE_PICTURE);
    Insert2Table(strMusic, FILE_TYPE_MUSIC);
    Insert2Table(strMovies, FILE_TYPE_MOVIE);
    Insert2Table(strEmail, FILE_TYPE_EMAIL);
    Insert2Table(strArchives, FILE_TYPE_ARCHIVE);
    Insert2Table(strDocument, FILE_TYPE_DOCUMENT);
    return 1;
}

void CFileTypeManager::Insert2Table(const std::string& list, FILE_TYPE_ID id) {
    if (list.empty()) return;
    size_t begin = 0;
    // Every piece up to each ";" is a key, the last one ending at the end (a trailing ";" gives "").
    for (;;) {
        const size_t end = list.find(';', begin);
        const std::string key = list.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        m_table.InsertNode(key.c_str(), id);  // a full table refuses silently: the extension is "other"
        if (end == std::string::npos) break;
        begin = end + 1;
    }
}

FILE_TYPE_ID CFileTypeManager::GetFileTypeID(const char* extension) const {
    u32 value = 0;
    if (!extension || !m_table.FindNode(extension, value)) return FILE_TYPE_OTHER;
    return static_cast<FILE_TYPE_ID>(value);
}
