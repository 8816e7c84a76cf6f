#pragma once
// A real EditorWin in a temporary current directory, with the scripted platform.

#include "editorwin.h"
#include "platform/sourceeditor.h"
#include "scriptedplatform.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Runs the window in its own temporary current directory, restoring the old
// one afterwards. The settings file holds port 1 unless the test says otherwise.
class WindowFixture {
public:
    explicit WindowFixture(const QByteArray *settings = nullptr, bool createSettings = true)
        : m_oldCwd(QDir::currentPath()), m_oldStateHome(qgetenv("XDG_STATE_HOME"))
    {
        QDir::setCurrent(dir.path());
        // Recovery copies go to a folder of the test's own, never the user's.
        qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome.path()));
        if (createSettings)
            writeFile(dir.filePath(QStringLiteral("kestoide.ini")),
                      settings ? *settings : QByteArray("1\r\n"));
    }
    ~WindowFixture()
    {
        win.reset();
        QDir::setCurrent(m_oldCwd);
        qputenv("XDG_STATE_HOME", m_oldStateHome);
    }
    kesto::EditorWin &open()
    {
        win = std::make_unique<kesto::EditorWin>(platform);
        return *win;
    }
    QString path(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    QTemporaryDir stateHome;
    ScriptedPlatform platform;
    std::unique_ptr<kesto::EditorWin> win;

private:
    QString m_oldCwd;
    QByteArray m_oldStateHome;
};
