// quarrybox: the desktop program.
#include <QApplication>
#include <QDockWidget>
#include <QSettings>
#include <chrono>
#include <cstdio>

#include "AppIcon.h"
#include "DesktopPrompts.h"
#include "MainFrame.h"
#include "PreviewPane.h"
#include "QuarryboxView.h"
#include "Preferences.h"

namespace {

using namespace App;

// A window of its own with its own prompts; it goes when closed, and every window can
// open another (File > New Window).
CMainFrame* OpenWindow(const TPreferences& preferences) {
    auto* prompts = new CDesktopPrompts;
    auto* window = new CMainFrame(*prompts, preferences);
    prompts->SetOwner(window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &QObject::destroyed, [prompts] { delete prompts; });
    window->SetPreferencesWriter([](const TPreferences& current) {
        QSettings store(SettingsOrganisation, SettingsApplication);
        current.Save(store);
    });
    window->SetWindowMaker([](const TPreferences& current, const QString& path) {
        CMainFrame* made = OpenWindow(current);
        if (!path.isEmpty()) made->OpenDisk(path);
    });
    window->show();
    return window;
}

// With QB_EXIT_WHEN_PREVIEWED set, for timing a start from outside (scripts/start-time.sh):
// the window shows the preview pane, selects the first file of the disk it opened, and
// once that file is rendered and the window painted writes "previewed" and the wall
// clock in nanoseconds on standard output and ends.
void ExitWhenPreviewed(CMainFrame& window, const QStringList& arguments) {
    window.PreviewDock()->show();
    window.Start(arguments);
    if (window.View()->RowCount() == 0) {
        QMetaObject::invokeMethod(qApp, [] { QApplication::exit(1); }, Qt::QueuedConnection);
        return;
    }
    auto finish = [&window] {
        window.repaint();
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::printf("previewed %lld\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        std::fflush(stdout);
        QApplication::exit(0);
    };
    QObject::connect(window.Preview(), &CPreviewPane::Rendered, &window, finish);
    window.View()->SelectFileIndices({window.View()->FileIndexAtRow(0)});
    if (!window.Preview()->IsRendering()) QMetaObject::invokeMethod(&window, finish, Qt::QueuedConnection);
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(App::SettingsOrganisation);
    QApplication::setApplicationName(App::SettingsApplication);
    QApplication::setApplicationVersion(QB_VERSION);
    QApplication::setWindowIcon(App::ProgramIcon());

    QSettings settings(App::SettingsOrganisation, App::SettingsApplication);
    const App::TPreferences preferences = App::TPreferences::Load(settings);

    App::CMainFrame* window = OpenWindow(preferences);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (qEnvironmentVariableIsSet("QB_EXIT_WHEN_PREVIEWED"))
        ExitWhenPreviewed(*window, arguments);
    else
        window->Start(arguments);
    return application.exec();
}
