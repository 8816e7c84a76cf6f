#pragma once
// The record of what this program saved: the fingerprints of its recent
// saves that the reading rule (codepage.h) would not read back as they were
// written, such as "KĄT" (Ą's byte is ą in code page 852) or a comment with
// an em dash and no other Polish letter. A file whose bytes match one of
// them is read as the plain Windows-1250 it was written in, wherever it now
// lies. A file brought from another computer falls back to the rule: the
// record is kept per account in the program's own folder (statedir.h) and
// per computer, as a home folder on the network is shared by the whole lab.

#include "fingerprint.h"

#include <QList>
#include <QString>

namespace kesto {

class OwnSaves {
public:
    // The newest saves kept; an older one is read by the rule again.
    static constexpr int kept = 1000;

    // The record of this account on this computer.
    OwnSaves();
    // The record kept in `folder` (empty: none, nothing is found or kept).
    explicit OwnSaves(const QString &folder);

    // The saves recorded, newest first.
    QList<Fingerprint> saves() const;
    // Adds `print` as the newest save; false when the record could not be written.
    bool remember(const Fingerprint &print) const;

private:
    QString m_path;
};

} // namespace kesto
