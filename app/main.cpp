#include "mainwindow.h"
#include "terminationsignals.h"
#include "windowdestroyedfilter.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainWindow window;

    // Ctrl+C or a stop request takes the same road as the window's close box,
    // so the settings are written and the camera is released on the way out.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window, [&window] {
        if (window.close())
            QApplication::quit();
    });

    // Whatever ends the window's life (a close, the window system) ends the
    // program the normal way rather than leaving it grabbing without a window.
    QObject::connect(&window, &QObject::destroyed, &app, &QCoreApplication::quit);

    window.show();
    WindowDestroyedFilter windowDestroyed(&window);
    app.installNativeEventFilter(&windowDestroyed);
    return app.exec();
}
