#include "clock.h"
#include "contentview.h"
#include "startup.h"

#include <QApplication>
#include <QElapsedTimer>

int main(int argc, char *argv[])
{
    // First of all, so --quit-when-shown counts everything the program does itself.
    QElapsedTimer sinceStart;
    sinceStart.start();
    Clock::cacheLocalTimeZone();
    QApplication app(argc, argv);
    Startup::setUpApplication(app);
    if (!Startup::checkDatabase(nullptr))
        return 1;
    ContentView window;
    window.show();
    if (Startup::quitWhenShownRequested(app))
        Startup::quitWhenShown(&window, sinceStart);
    return app.exec();
}
