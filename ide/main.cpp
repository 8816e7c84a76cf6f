#include "application.h"
#include "editorwin.h"
#include "platform/qtplatform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    kesto::prepareEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KESTO IDE"));
    QGuiApplication::setDesktopFileName(QStringLiteral("kestoide"));
    kesto::installTranslations(app);

    kesto::QtPlatform platform;
    kesto::EditorWin window(platform);
    window.show();
    window.startSession(QString());
    return QApplication::exec();
}
