// qbox put: host files onto the disk, by the shell's rules for storing a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "cli/Cli.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;

struct PutOptions {
    std::string Image;
    std::vector<std::string> HostFiles;
    std::string As;
    std::string Conversion;
    bool Force = false;
    int Partition = 0;
};

struct HostFile {
    std::vector<uint8_t> Bytes;
    FileSystem::FileDate Date;
};

// Reads a whole regular host file; throws Failure with the host's reason.
HostFile ReadHostFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw Failure(path + ": " + std::strerror(errno));
    struct FdCloser {
        int Fd;
        ~FdCloser() { ::close(Fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) throw Failure(path + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode)) throw Failure(path + ": " + std::strerror(EISDIR));
    if (!S_ISREG(info.st_mode)) throw Failure(path + ": not a regular file");
    if (info.st_size > INT_MAX) throw Failure(path + ": " + std::strerror(EFBIG));

    HostFile file;
    file.Bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < file.Bytes.size()) {
        ssize_t got = ::read(fd, file.Bytes.data() + done, file.Bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw Failure(path + ": " + std::strerror(errno));
        if (got == 0) throw Failure(path + ": the file shrank while it was read");
        done += static_cast<size_t>(got);
    }
    file.Date.SetFromTime(info.st_mtime);
    return file;
}

std::string BaseName(const std::string& path) {
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

int RunPut(const PutOptions& options) {
    if (!options.As.empty() && options.HostFiles.size() != 1)
        throw UsageError("put: --as names one file, but " + std::to_string(options.HostFiles.size()) + " were given");
    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    RequireWritable(fs);

    int failures = 0;
    for (const std::string& hostPath : options.HostFiles) {
        std::string name = options.As.empty() ? BaseName(hostPath) : options.As;
        try {
            HostFile host = ReadHostFile(hostPath);
            std::vector<uint8_t> data =
                options.Conversion.empty() ? host.Bytes : FileSystem::ConvertToTRS80(fs, host.Bytes, 1);
            FileSystem::StoreFile(fs, name, data, host.Bytes.size(), host.Date, options.Force);
        } catch (const Failure& error) {
            Report(options.Image, error.what());
            ++failures;
        } catch (const TFileSystem::EInvalidFilename& error) {
            Report(options.Image, name + ": " + error.what() + " (choose a name for the disk with --as)");
            ++failures;
        } catch (const TFileSystem::Exception& error) {
            Report(options.Image, name + ": " + error.what());
            ++failures;
        }
    }
    SaveChanges(disk);
    return failures == 0 ? ExitOk : ExitFailure;
}

}  // namespace

void AddPutVerb(CLI::App& app, RunResult& result) {
    auto options = std::make_shared<PutOptions>();
    CLI::App* verb = app.add_subcommand(
        "put", "Store host files on the disk, named after the host file and dated from its modification time");
    verb->add_option("IMAGE", options->Image, "Disk image")->required();
    verb->add_option("HOSTFILE", options->HostFiles, "Host files to store")->required();
    verb->add_option("--as", options->As, "Name to give the file on the disk (one host file only)");
    verb->add_option("-t,--text", options->Conversion,
                     "cr: convert CR/LF line ends of text files to CR; without it the bytes are stored exactly")
        ->check(CLI::IsMember({"cr"}));
    verb->add_flag("-f,--force", options->Force, "Replace a file of the same name");
    AddPartitionOption(verb, options->Partition);
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Image, [&] { return RunPut(*options); });
    });
}

}  // namespace Qbox
