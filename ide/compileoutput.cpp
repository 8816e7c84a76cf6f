#include "compileoutput.h"

#include <QRegularExpression>

namespace kesto {

QString printableLine(const QString &text)
{
    // A terminal's escape sequence (colours, say), then any other control.
    static const QRegularExpression escapes(QStringLiteral("\\x1B\\[[0-9;?]*[ -/]*[@-~]|\\x1B[@-_]"));
    const QString plain = QString(text).remove(escapes);
    QString out;
    out.reserve(plain.size());
    for (const QChar c : plain) {
        if (c == u'\t')
            out += u' ';
        else if (c.category() != QChar::Other_Control)
            out += c;
    }
    return out.trimmed();
}

std::optional<SourceLineMessage> findSourceLine(const QString &printed, const QString &sourcePath,
                                                qsizetype lineCount)
{
    // The name as the tool may print it: the path with either separator
    // (Wine's tools get Z:\...), whose end is the file's name.
    const qsizetype slash = std::max(sourcePath.lastIndexOf(u'/'), sourcePath.lastIndexOf(u'\\'));
    const QString name = QRegularExpression::escape(sourcePath.mid(slash + 1));
    const QRegularExpression patterns(
        QStringLiteral("%1\\((\\d+)\\)|%1:(\\d+)|\\b(?:line|linia|linii|wiersz|wierszu)\\s*(\\d+)").arg(name),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    for (const QString &raw : printed.split(u'\n')) {
        const QString line = printableLine(raw);
        auto matches = patterns.globalMatch(line);
        while (matches.hasNext()) {
            const QRegularExpressionMatch m = matches.next();
            const QString digits = !m.captured(1).isEmpty()   ? m.captured(1)
                                   : !m.captured(2).isEmpty() ? m.captured(2)
                                                              : m.captured(3);
            bool ok = false;
            const qsizetype n = digits.toLongLong(&ok);
            if (ok && n >= 1 && n <= lineCount)
                return SourceLineMessage{n, line};
        }
    }
    return std::nullopt;
}

} // namespace kesto
