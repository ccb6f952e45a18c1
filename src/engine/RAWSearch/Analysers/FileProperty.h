// The document information the office and PDF readers take from a found file: its title, people and
// times, all UTF-8, empty when absent. The compound-file and ZIP readers fill title, author, last author
// and the two times; the PDF reader also keeps the producer and the creating application.
#pragma once

#include <string>

struct FileProperty {
    std::string subject;  // not read
    std::string title;
    std::string producer;  // PDF only
    std::string author;
    std::string lastAuthor;
    std::string created;   // creation time text
    std::string modified;  // last-saved time text
    std::string creator;   // PDF only: the application that made the document
};
