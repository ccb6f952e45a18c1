// Private temporary copies of found files for the decoder. Every copy is a new file of mode 0600 made
// with mkstemps in a folder of mode 0700 that mkdtemp made for this process, named after the found
// name cut to one harmless component, and removed as soon as the caller is done with it: no other
// user can guess, read or replace it, and no name found on disk can place it anywhere else.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

// One temporary copy: open for writing, removed (and closed) when destroyed.
class PreviewTempFile {
public:
    PreviewTempFile(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    ~PreviewTempFile();
    PreviewTempFile(const PreviewTempFile&) = delete;
    PreviewTempFile& operator=(const PreviewTempFile&) = delete;

    const std::string& path() const { return m_path; }
    int fd() const { return m_fd; }
    // Closes the descriptor (the file stays until destruction); false when closing failed.
    bool Close();

private:
    std::string m_path;
    int m_fd;
};

class PreviewFolder {
public:
    static PreviewFolder& instance();

    PreviewFolder() = default;
    ~PreviewFolder();
    PreviewFolder(const PreviewFolder&) = delete;
    PreviewFolder& operator=(const PreviewFolder&) = delete;

    // The folder under which the private folder is made: $TMPDIR, else /tmp, unless set here (tests).
    // A private folder made under the old base is removed when it is empty.
    void SetBase(const std::string& base);
    // The private folder, made on first use (and again when it vanished or was changed); empty when
    // it cannot be made.
    std::string Folder();
    // A new empty file in the private folder for a found file called name; nothing on failure.
    std::unique_ptr<PreviewTempFile> Create(const std::string& name);

    // The file-name part of a copy: name with every byte other than a letter, digit, "-", "_" or "."
    // replaced by "_" (a "/" included), a leading "." replaced by "_", cut to its last 64 bytes so
    // that the extension stays; "file" for an empty name.
    static std::string SanitisedName(const std::string& name);

private:
    bool FolderIsOurs() const;
    void DropFolderLocked();

    std::mutex m_mutex;
    std::string m_base;
    std::string m_folder;
};
