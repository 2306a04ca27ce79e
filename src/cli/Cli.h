// What every qbox verb shares: how a verb joins the command line, how errors
// become messages and exit codes, opening a disk, and matching names on it.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "filesystem/FileSystem.h"
#include "filesystem/MountedDisk.h"

namespace Qbox {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// Filled in by the verb that ran; main returns it.
struct RunResult {
    int ExitCode = ExitOk;
};

// Every verb unit offers one function that adds its verb (or verbs) to the app.
using VerbAdder = void (*)(CLI::App& app, RunResult& result);
void AddInfoVerb(CLI::App& app, RunResult& result);
void AddListVerb(CLI::App& app, RunResult& result);
void AddExtractVerbs(CLI::App& app, RunResult& result);  // get, cat
void AddPutVerb(CLI::App& app, RunResult& result);
void AddEditVerbs(CLI::App& app, RunResult& result);  // rm, mv, attr, label
void AddImageVerbs(CLI::App& app, RunResult& result);  // new, protect
void AddViewVerb(CLI::App& app, RunResult& result);     // view
void AddPatchDatesVerb(CLI::App& app, RunResult& result);
void AddConvertVerb(CLI::App& app, RunResult& result);
void AddCheckVerb(CLI::App& app, RunResult& result);
void AddExportVerb(CLI::App& app, RunResult& result);
void AddCatalogVerb(CLI::App& app, RunResult& result);
#ifdef QB_HAVE_FUSE
void AddMountVerb(CLI::App& app, RunResult& result);  // built only where libfuse 3 is found
#endif

// A failure to report as "qbox: IMAGE: message" with exit status 1.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// A wrong use of the command line: "qbox: message", exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Text from a disk or the host made safe for a terminal, as ls's escape quoting shows it:
// control characters (C0, DEL and C1) and bytes that are not UTF-8 become \t, \n, \r or \ooo,
// so that no name can move the cursor, clear the screen or set a window title.
std::string Printable(std::string_view text);
// The words --type takes for a new image, and the same as a list for a help text ("jv1, jv3 or dmk").
std::vector<std::string> ImageTypeKeys();
std::string ImageTypeKeysText();
// A field of a tab-separated record: as Printable, with the backslash itself doubled, so
// that tabs and newlines inside a field never split a record and every field reads back.
std::string TabSeparatedField(std::string_view text);
// Refuses a volume name or date the directory cannot hold: more than 8 characters, or one
// outside printable ASCII. The message starts with the verb ("label: the volume name ...").
void CheckVolumeText(const std::string& verb, const std::string& what, const std::string& text);

// Runs a verb's body and turns whatever it throws into a message on stderr and
// an exit status. The body returns its own status (1 when some files failed).
int RunVerb(const std::string& image, const std::function<int()>& body);
// Reports one problem on stderr without stopping the verb: "qbox: IMAGE: message", printable.
void Report(const std::string& image, const std::string& message);

// Opens the image (for reading only when readOnly) and returns the chosen partition's file system.
FileSystem::TFileSystem& OpenDisk(FileSystem::MountedDisk& disk, const std::string& image, int partition,
                                  bool readOnly = false);
// Refuses with the shell's message when the file system must not be changed.
void RequireWritable(FileSystem::TFileSystem& fs);
// Writes every pending change to the image, so that failures are reported.
void SaveChanges(FileSystem::MountedDisk& disk);

// Files named by patterns. A plain name (no wildcard) names the files whose full name
// the DOS would take as equal to it (one letter case, '.' for its separator, no
// trailing separator), or failing that the file the DOS's own lookup (FindFile) finds,
// whatever their attributes; a name that names several files is reported as ambiguous
// and acts on none, unless listSeveral. A wildcard pattern is matched with the file
// system's MatchesPattern against the files listFlags lets through, where '.' stands
// for the DOS's separator and a pattern without one covers every extension.
// Patterns that name nothing are counted in unmatched and, when report is set, reported.
std::vector<int> MatchFiles(FileSystem::TFileSystem& fs, const std::vector<std::string>& patterns, int listFlags,
                            const std::string& image, int& unmatched, bool report = true, bool listSeveral = false);
// The files a plain name names, as MatchFiles takes it.
std::vector<int> NamedFiles(FileSystem::TFileSystem& fs, const std::string& name);
// The one file a plain name names; throws Failure with "no such file" or "ambiguous name".
int FindOneFile(FileSystem::TFileSystem& fs, const std::string& name);

// Warn on stderr about sectors read with an error: the directory's, or one file's
// (with how many of its bytes are good). False when there was anything to say.
bool ReportDirectoryProblems(const std::string& image, FileSystem::TFileSystem& fs);
bool ReportFileRead(const std::string& image, const std::string& fileName, const FileSystem::TFileRead& read);

// "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" with a time (timeSeparator replaces the 'T'), or "" without a date.
std::string FormatDate(const FileSystem::FileDate& date, char timeSeparator = 'T');

// Adds the -p/--partition option every file verb offers.
void AddPartitionOption(CLI::App* verb, int& partition);

}  // namespace Qbox
