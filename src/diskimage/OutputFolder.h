// Where the program puts what it writes on the host: extracted files, export folders and
// their manifests, viewer renderings and converted images.
//
// Nothing already in such a folder is ever opened for writing. A file is made new at a
// temporary name beside its final one (created exclusively, no link followed), written
// whole, and only then renamed into place; so a symbolic link, a hard link or a pipe
// planted under the name is never written through or opened, and a run that fails or is
// killed never leaves part of a file under the final name. A name held by anything but a
// regular file is refused, overwriting or not. Folders made inside an output folder are
// entered without following links.
//
// Temporary names are ".NAME.qbpart-PID". One left by a killed run is recognised by that
// name, by belonging to this user and by its process being gone, and is removed the first
// time this process opens the folder for output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace DiskImage {

class TOutputFolder {
public:
    TOutputFolder() = default;
    ~TOutputFolder();
    TOutputFolder(TOutputFolder&& other) noexcept;
    TOutputFolder& operator=(TOutputFolder&& other) noexcept;
    TOutputFolder(const TOutputFolder&) = delete;
    TOutputFolder& operator=(const TOutputFolder&) = delete;

    // Opens the folder the user named. Its path is theirs to choose, links included; with
    // make, missing folders along it are created. Returns 0, an errno or a THostError.
    int Open(const std::string& path, bool make);
    // Opens the folder of an output file's path and gives the file's own name.
    int OpenFolderOf(const std::string& filePath, std::string& name);
    // Opens (with make, creates) the folder name inside this one, never through a link.
    int OpenInside(const std::string& name, bool make, TOutputFolder& inside) const;

    // Whether a file may be written at name: 0 when nothing or (with overwrite) a regular
    // file is there; EEXIST for a file without overwrite; a THostError for anything else.
    int CheckName(const std::string& name, bool overwrite) const;

    bool IsOpen() const { return Fd >= 0; }
    int Descriptor() const { return Fd; }
    // The folder as named, for messages; PathOf joins a name to it.
    const std::string& Path() const { return FolderPath; }
    std::string PathOf(const std::string& name) const;

private:
    void ClearStaleTemporaries() const;

    int Fd = -1;
    std::string FolderPath;
};

// One file on its way into an output folder.
class TOutputFile {
public:
    TOutputFile() = default;
    ~TOutputFile();  // a file never committed is removed
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // Starts the file that is to take name in folder (which must stay open until Commit).
    // Returns 0, EEXIST (a file is there and overwrite is off), an errno or a THostError.
    int Begin(const TOutputFolder& folder, const std::string& name, bool overwrite);
    // False with errno set when the host refused the bytes.
    bool Write(const void* data, size_t length);
    bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
    // Dates the file (access and modification time); a host that refuses leaves the time it was written.
    void SetTime(std::time_t time);
    // Makes the file stable and gives it its name. Returns 0, EEXIST when a file took the
    // name meanwhile and overwrite is off, or an errno; the temporary is gone either way.
    int Commit();

    int Descriptor() const { return Fd; }
    const std::string& TemporaryName() const { return Temporary; }

private:
    void Abandon();

    int Fd = -1;
    int FolderFd = -1;
    bool Overwrite = false;
    std::string Name;
    std::string Temporary;
};

// Writes bytes as a whole new file at name in folder; time, when given, dates it.
// Returns what Begin, Write or Commit reported.
int WriteOutputFile(const TOutputFolder& folder, const std::string& name, std::string_view bytes, bool overwrite,
                    const std::time_t* time = nullptr);

}  // namespace DiskImage
