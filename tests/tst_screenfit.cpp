// The window on a screen with little room: at scale factor 2 the first size
// from the lab's twips no longer fits, and the window shrinks so that its
// frame and the status line along its bottom stay on the screen.

#include "testsupport.h"

#include <QScreen>
#include <QStyle>

class TestScreenFit : public QObject {
    Q_OBJECT
private slots:
    void firstSizeFitsTheScreenWithItsFrame();
};

void TestScreenFit::firstSizeFitsTheScreenWithItsFrame()
{
    WindowFixture f;
    kesto::EditorWin &w = f.open();
    QVERIFY(showExposed(w));
    const QRect room = w.screen()->availableGeometry();
    // The lab's size is 491 by some 410 pixels: more than the screen holds.
    QVERIFY2(room.height() < 410, qPrintable(QString::number(room.height())));
    const int title = w.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &w);
    QVERIFY(w.height() + title <= room.height());
    QVERIFY(w.width() <= room.width());
    // The status line is inside the window, at its foot.
    const QRect status(w.Text1->mapTo(&w, QPoint(0, 0)), w.Text1->size());
    QVERIFY(w.rect().contains(status));
    QCOMPARE(status.bottom(), w.rect().bottom());
}

int main(int argc, char *argv[])
{
    // The scaling a high-resolution laptop screen gets; the offscreen screen is 800 by 600.
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestScreenFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenfit.moc"
