#include "fileio.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSysInfo>

namespace kesto::fileio {

QByteArray native(const QString &path) { return QFile::encodeName(path); }

QByteArray thisHost() { return QSysInfo::machineHostName().toUtf8(); }

QString nameStem(const QString &name)
{
    constexpr qsizetype most = 200;
    qsizetype end = 0;
    qsizetype units = 0;
    while (end < name.size()) {
        const qsizetype next = end + (name.at(end).isHighSurrogate() && end + 1 < name.size() ? 2 : 1);
        units += nameUnits(name.mid(end, next - end));
        if (units > most)
            break;
        end = next;
    }
    return name.left(end);
}

QString uniqueSuffix()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (qsizetype i = 0; i < uniqueSuffixLength; ++i)
        suffix += QLatin1Char(letters[QRandomGenerator::global()->bounded(36)]);
    return suffix;
}

QString backupName(const QString &folder, const QString &name)
{
    return folder + u'/' + nameStem(name) + QStringLiteral(".kestoide-backup-") + uniqueSuffix();
}

QString randomId()
{
    return QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, u'0');
}

bool writeOut(QFileDevice &file, std::string_view bytes)
{
    const qint64 offset = file.pos();
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size)
        return false;
    startWriteback(file.handle(), offset, size);
    return true;
}

} // namespace kesto::fileio
