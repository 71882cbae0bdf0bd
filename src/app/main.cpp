// VeskoQindra V3.4: start-up in the design's order.
#include "app/Unit1.h"
#include "platform/ui/services.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("VeskoQindra"));
    // Desktops find the menu entry (and so the icon) of the window by this
    // name: packaging/veskoqindra.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("veskoqindra"));
    app.setQuitOnLastWindowClosed(false);

    // Qt's own dialogs speak Chinese, whatever the session's language.
    QTranslator qtbase;
    if (qtbase.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                    QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtbase);

    createApplicationWindows();
    // Closing the main window ends the program; the other windows only hide.
    QObject::connect(Form1, &TForm1::closing, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    Form1->show();
    int rc = app.exec();
    destroyApplicationWindows();
    return rc;
}
