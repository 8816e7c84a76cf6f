#include "editorwin.h"
#include "platform/qtplatform.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KESTO IDE"));

    // Qt's own texts (standard buttons, the file dialog) in Polish, like the rest.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Polish, QLocale::Poland), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    kesto::QtPlatform platform;
    EditorWin window(platform);
    window.show();
    return QApplication::exec();
}
