// qbox: the command-line face of Quarrybox. One verb per job; each verb lives
// in its own unit and joins through the table below.
#include <iostream>

#include "cli/Cli.h"

namespace {

// The verbs, in the order --help lists them. A new verb unit adds one line.
const Qbox::VerbAdder Verbs[] = {
    Qbox::AddInfoVerb, Qbox::AddListVerb, Qbox::AddExtractVerbs,
    Qbox::AddPutVerb,  Qbox::AddEditVerbs, Qbox::AddImageVerbs, Qbox::AddViewVerb,
    Qbox::AddPatchDatesVerb,
    Qbox::AddConvertVerb, Qbox::AddCheckVerb, Qbox::AddExportVerb,
    Qbox::AddCatalogVerb,
};

std::string UsageFailure(const CLI::App* app, const CLI::Error& error) {
    std::string message = std::string("qbox: ") + error.what() + "\n";
    std::string name = app->get_name();
    message += "Run '" + std::string(name == "qbox" ? "qbox" : "qbox " + name) + " --help' for more information.\n";
    return message;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Lists, extracts, adds, renames and deletes files on TRS-80 disk images (JV1, JV3, DMK floppies; HDV "
        "and memory-card hard disks) and creates new floppies.\n"
        "Every verb takes the image path first. Names on the disk are matched as the DOS matches them, so "
        "GAME/BAS, game.bas and 'G*/BAS' all work; '*' covers every file.\n"
        "Exit status: 0 success, 1 an operation failed (message on stderr), 2 wrong usage.",
        "qbox"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "qbox 0.1");
    app.failure_message(UsageFailure);

    Qbox::RunResult result;
    for (Qbox::VerbAdder addVerb : Verbs) addVerb(app, result);
    for (CLI::App* verb : app.get_subcommands({})) verb->failure_message(UsageFailure);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? Qbox::ExitOk : Qbox::ExitUsage;
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "qbox: error writing to standard output\n";
        return Qbox::ExitFailure;
    }
    return result.ExitCode;
}
