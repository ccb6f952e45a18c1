// Extension -> file category, from the category lists of the application's configuration.
#pragma once

#include <map>
#include <string>

#include "engine/Common/KeHashTable.h"

enum FILE_TYPE_ID : u32 {
    FILE_TYPE_DOCUMENT = 2,
    FILE_TYPE_PICTURE = 3,
    FILE_TYPE_MUSIC = 4,
    FILE_TYPE_MOVIE = 5,
    FILE_TYPE_ARCHIVE = 6,
    FILE_TYPE_EMAIL = 7,
    FILE_TYPE_OTHER = 8,
};

// _FILTER_TYPE bit <-> FILE_TYPE_ID (movie and music cross: bit 4 is movie = 5, bit 8 music = 4).
FILE_TYPE_ID FilterBitToFileType(u32 bit);
u32 FileTypeToFilterBit(u32 id);

class CFileTypeManager {
public:
    // Called once by the operations layer, before the filter is first created, with the ";"-separated
    // extension lists keyed 1 (documents), 2 (pictures), 4 (movies), 8 (music), 16 (archives), 32 (e-mail).
    static void Initialze(std::map<int, std::string>& lists);

    static std::string strDocument;
    static std::string strPics;
    static std::string strMovies;
    static std::string strMusic;
    static std::string strArchives;
    static std::string strEmail;

    // Fills the table from the category strings (pictures, music, movies, e-mail, archives, documents:
    // an extension listed twice belongs to the first of these).
    int Initialize();
    void Insert2Table(const std::string& list, FILE_TYPE_ID id);
    // 8 (other) for null or unknown.
    FILE_TYPE_ID GetFileTypeID(const char* extension) const;

private:
    CKeHashTable m_table;
};
