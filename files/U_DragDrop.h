#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class QWidget;

namespace tintavo {

// The drop target of a window: offers copy for every drag that allows it (whatever it
// carries), and on a drop of files appends their names to the window's list and tells the
// window. Drops on any widget of the window arrive here, so an edit field does not swallow a
// dropped file as text. The target lives as a child of the window, so no drop reaches it
// once the window is gone.
class TMyDropTarget : public QObject {
    Q_OBJECT
public:
    using Notify = std::function<void(QObject* sender)>;

    TMyDropTarget(QWidget* window, QStringList* fileList);
    ~TMyDropTarget() override;

    QStringList* FileList = nullptr; // not owned: the window's list
    Notify OnDropped;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend bool UnregisterDropTarget(QWidget* window);
    bool belongsToWindow(QObject* watched) const;

    bool revoked_ = false;

    QPointer<QWidget> window_;
};

// Makes the window accept dropped files into List and call Callback after each drop that
// carried file names; answers the drop target, or nullptr when the window is missing. The
// window owns the target.
TMyDropTarget* RegisterDropTarget(QWidget* window, QStringList* list,
                                  TMyDropTarget::Notify callback);

// Revokes the window's drop target; true when one was registered.
bool UnregisterDropTarget(QWidget* window);

} // namespace tintavo
