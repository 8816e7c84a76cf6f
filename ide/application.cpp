#include "application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace kesto {

void prepareEnvironment()
{
    // The window draws nothing with OpenGL; without this, Qt's X11 plugin
    // loads the whole GL stack at start (tens of milliseconds, tens of MB).
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

void installTranslations(QApplication &app)
{
#ifdef Q_OS_WIN
    // Shipped in a folder of the program's own, which Qt's installation
    // layout (translations beside a bin folder) does not know.
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
#else
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
    auto *qtTranslator = new QTranslator(&app);
    if (qtTranslator->load(QLocale(QLocale::Polish, QLocale::Poland), QStringLiteral("qtbase"),
                           QStringLiteral("_"), folder))
        QApplication::installTranslator(qtTranslator);
}

} // namespace kesto
