// Drop target: what a drag is offered, what a drop delivers, and when drops stop arriving.
#include "common/TestSandbox.h"
#include "files/U_DragDrop.h"

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <QtTest>
#include <memory>

using namespace tintavo;

namespace {

QMimeData* FileData(const QStringList& names) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& name : names) {
        urls.append(name.contains("://") ? QUrl(name) : QUrl::fromLocalFile(name));
    }
    data->setUrls(urls);
    return data;
}

// Sends a whole drag (enter, move, drop) to a widget; answers whether the drop was taken.
bool DropOn(QWidget* widget, QMimeData* data, Qt::DropActions offered = Qt::CopyAction) {
    const QPointF pos(5, 5);
    QDragEnterEvent enter(pos.toPoint(), offered, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QDragMoveEvent move(pos.toPoint(), offered, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QDropEvent drop(pos, offered, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    return drop.isAccepted();
}

} // namespace

class DragDropTest : public QObject {
    Q_OBJECT
private slots:
    void copyIsOfferedForAnyDrag() {
        QWidget window;
        QStringList list;
        QVERIFY(RegisterDropTarget(&window, &list, nullptr) != nullptr);
        QVERIFY(window.acceptDrops());

        // Qt delivers moves only to the widget that took the enter, so each case enters first.
        QMimeData text;
        text.setText("not a file");
        QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction | Qt::MoveAction, &text, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QDragMoveEvent move(QPoint(2, 2), Qt::CopyAction | Qt::MoveAction, &text, Qt::LeftButton,
                            Qt::NoModifier);
        QApplication::sendEvent(&window, &move);
        QVERIFY(move.isAccepted());
        QCOMPARE(move.dropAction(), Qt::CopyAction);

        // A source that only allows moving gets no drop: files are never moved.
        QDragEnterEvent moveOnly(QPoint(1, 1), Qt::MoveAction, &text, Qt::LeftButton,
                                 Qt::NoModifier);
        QApplication::sendEvent(&window, &moveOnly);
        QVERIFY(!moveOnly.isAccepted());
    }

    void dropDeliversEveryNameAndNotifies() {
        QWidget window;
        auto* edit = new QLineEdit(&window); // a child that would take text drops itself
        QStringList list;
        QList<QStringList> seen;
        QObject* sender = nullptr;
        TMyDropTarget* target = RegisterDropTarget(&window, &list, [&](QObject* s) {
            sender = s;
            seen.append(list);
            list.clear();
        });

        std::unique_ptr<QMimeData> data(FileData({"/tmp/a b.JPG", "/tmp/second.jpg"}));
        QVERIFY(DropOn(&window, data.get()));
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0], (QStringList{"/tmp/a b.JPG", "/tmp/second.jpg"}));
        QCOMPARE(sender, static_cast<QObject*>(target));

        // A drop on a child edit reaches the window's target, not the edit.
        QVERIFY(DropOn(edit, data.get()));
        QCOMPARE(seen.size(), 2);
        QVERIFY(edit->text().isEmpty());
    }

    void nonFilePayloadsDeliverNothing() {
        QWidget window;
        QStringList list;
        int calls = 0;
        RegisterDropTarget(&window, &list, [&](QObject*) { ++calls; });

        QMimeData text;
        text.setText("/tmp/picture.jpg");
        QVERIFY(!DropOn(&window, &text));
        QCOMPARE(calls, 0);
        QVERIFY(list.isEmpty());

        // A remote address is a name the program cannot read: notified, but nothing listed.
        std::unique_ptr<QMimeData> remote(FileData({"https://example.invalid/p.jpg"}));
        DropOn(&window, remote.get());
        QCOMPARE(calls, 1);
        QVERIFY(list.isEmpty());
    }

    void otherWindowsAreNotTargets() {
        QWidget window;
        QWidget other;
        QStringList list;
        int calls = 0;
        RegisterDropTarget(&window, &list, [&](QObject*) { ++calls; });
        std::unique_ptr<QMimeData> data(FileData({"/tmp/x.jpg"}));
        DropOn(&other, data.get());
        QCOMPARE(calls, 0);
        QVERIFY(list.isEmpty());
    }

    void noDropsAfterRevokeOrDestruction() {
        QStringList list;
        int calls = 0;
        std::unique_ptr<QMimeData> data(FileData({"/tmp/x.jpg"}));
        {
            QWidget window;
            RegisterDropTarget(&window, &list, [&](QObject*) { ++calls; });
            QVERIFY(UnregisterDropTarget(&window));
            QVERIFY(!UnregisterDropTarget(&window));
            QVERIFY(!window.acceptDrops());
            DropOn(&window, data.get());
            QCOMPARE(calls, 0);
            QVERIFY(list.isEmpty());

            RegisterDropTarget(&window, &list, [&](QObject*) { ++calls; });
            DropOn(&window, data.get());
            QCOMPARE(calls, 1);
            list.clear();
        }
        // The window is gone with its target; a later window gets nothing from it.
        QWidget later;
        later.setAcceptDrops(true);
        DropOn(&later, data.get());
        QCOMPARE(calls, 1);
        QVERIFY(list.isEmpty());
        QVERIFY(RegisterDropTarget(nullptr, &list, nullptr) == nullptr);
        QVERIFY(!UnregisterDropTarget(nullptr));
    }

    void revokingInsideTheCallbackIsSafe() {
        QWidget window;
        QStringList list;
        int calls = 0;
        RegisterDropTarget(&window, &list, [&](QObject*) {
            ++calls;
            UnregisterDropTarget(&window);
        });
        std::unique_ptr<QMimeData> data(FileData({"/tmp/x.jpg"}));
        DropOn(&window, data.get());
        DropOn(&window, data.get());
        QCOMPARE(calls, 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(window.findChild<TMyDropTarget*>() == nullptr);
    }
};

int main(int argc, char* argv[]) {
    tintavo::test::TestSandbox sandbox;
    QApplication app(argc, argv);
    DragDropTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dragdrop_test.moc"
