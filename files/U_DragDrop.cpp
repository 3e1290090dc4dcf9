#include "files/U_DragDrop.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace tintavo {

TMyDropTarget::TMyDropTarget(QWidget* window, QStringList* fileList)
    : QObject(window), FileList(fileList), window_(window) {
    setObjectName("TMyDropTarget");
    // Drag events go to the innermost widget that accepts drops; watching the application
    // lets the whole window act as one target, as a drop on the window frame would.
    qApp->installEventFilter(this);
}

TMyDropTarget::~TMyDropTarget() {
    qApp->removeEventFilter(this);
}

bool TMyDropTarget::belongsToWindow(QObject* watched) const {
    if (window_.isNull() || !watched->isWidgetType()) {
        return false;
    }
    const auto* widget = static_cast<QWidget*>(watched);
    return widget == window_ || widget->window() == window_;
}

bool TMyDropTarget::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        break;
    default:
        return false;
    }
    if (revoked_ || !belongsToWindow(watched)) {
        return false;
    }

    if (event->type() == QEvent::DragLeave) {
        return true;
    }
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        // The hover steps never look at the data: copy is offered whenever the source allows
        // it. Files are only read, never moved.
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->possibleActions() & Qt::CopyAction) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->setDropAction(Qt::IgnoreAction);
            drag->ignore();
        }
        return true;
    }

    auto* drop = static_cast<QDropEvent*>(event);
    const QMimeData* data = drop->mimeData();
    if (data == nullptr || !data->hasUrls()) {
        drop->ignore();
        return true;
    }
    const QList<QUrl> urls = data->urls();
    if (FileList != nullptr) {
        for (const QUrl& url : urls) {
            const QString name = url.toLocalFile();
            if (!name.isEmpty()) {
                FileList->append(name);
            }
        }
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (!urls.isEmpty() && OnDropped) {
        OnDropped(this);
    }
    return true;
}

TMyDropTarget* RegisterDropTarget(QWidget* window, QStringList* list,
                                  TMyDropTarget::Notify callback) {
    if (window == nullptr) {
        return nullptr;
    }
    UnregisterDropTarget(window);
    auto* target = new TMyDropTarget(window, list); // owned by the window
    window->setAcceptDrops(true);
    target->OnDropped = std::move(callback);
    return target;
}

bool UnregisterDropTarget(QWidget* window) {
    if (window == nullptr) {
        return false;
    }
    const auto targets = window->findChildren<TMyDropTarget*>(Qt::FindDirectChildrenOnly);
    for (TMyDropTarget* target : targets) {
        if (target->revoked_) {
            continue;
        }
        // Revoked at once; freed later, since a drop callback may be what revokes it.
        target->revoked_ = true;
        qApp->removeEventFilter(target);
        target->FileList = nullptr;
        target->OnDropped = nullptr;
        window->setAcceptDrops(false);
        target->deleteLater();
        return true;
    }
    return false;
}

} // namespace tintavo

#include "moc_U_DragDrop.cpp"
