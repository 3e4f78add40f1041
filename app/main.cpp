#include "clock.h"
#include "contentview.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    Clock::cacheLocalTimeZone();
    QApplication app(argc, argv);
    Startup::setUpApplication(app);
    if (!Startup::checkDatabase(nullptr))
        return 1;
    ContentView window;
    window.show();
    return app.exec();
}
