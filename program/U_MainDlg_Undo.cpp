// The main window's Edit menu: undo and redo over the selection (Central Color, thresholds,
// filter, the zoom window's options), kept by a SelectionHistory.

#include "program/IntegerField.h"
#include "program/SelectionHistory.h"
#include "program/U_MainDlg.h"
#include "program/ZoomWindow.h"
#include "ui/ErrorReport.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QSlider>

namespace tintavo {

namespace {

// A focused text field keeps Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y for its own text while it has
// typing to undo or redo; otherwise the keys reach the Edit menu, so that they work from any
// control (a field whose value the program set has nothing of its own to undo).
class TextUndoFirst : public QObject {
public:
    explicit TextUndoFirst(QObject* parent) : QObject(parent) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto* field = qobject_cast<QLineEdit*>(watched);
        if (field == nullptr || event->type() != QEvent::ShortcutOverride) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool undo = key->matches(QKeySequence::Undo) && !field->isUndoAvailable();
        const bool redo = key->matches(QKeySequence::Redo) && !field->isRedoAvailable();
        if (undo || redo) {
            event->ignore(); // not the field's: the shortcut goes to the window
            return true;
        }
        return false;
    }
};

} // namespace

void TMainDlg::BuildEditMenu() {
    Edit1 = menuBar()->addMenu(QStringLiteral("Edit"));
    Undo1 = Edit1->addAction(QStringLiteral("Undo"));
    Undo1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    Redo1 = Edit1->addAction(QStringLiteral("Redo"));
    Redo1->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    for (QAction* action : {Undo1, Redo1}) {
        action->setShortcutContext(Qt::WindowShortcut);
        action->setEnabled(false);
    }

    History = new SelectionHistory(
        [this] {
            Selection s;
            s.red = rbase_txt->Value();
            s.green = gbase_txt->Value();
            s.blue = bbase_txt->Value();
            s.thresholdRed = dist_r->value();
            s.thresholdGreen = dist_g->value();
            s.thresholdBlue = dist_b->value();
            s.model = static_cast<int>(Choice.Model);
            s.hueTolerance = Choice.HueTolerance;
            s.chromaFloor = Choice.ChromaFloor;
            s.perceptualRadius = Choice.PerceptualRadius;
            s.feather = Choice.Feather;
            s.grey = static_cast<int>(Choice.Grey);
            s.strength = Choice.Strength;
            for (const CentralColor& c : MoreColours) {
                s.moreColours.push_back({c.Red, c.Green, c.Blue});
            }
            s.strokes = StrokeCount();
            return s;
        },
        [this](const Selection& s) { RestoreSelection(s); }, this);
    connect(&History->Stack(), &QUndoStack::canUndoChanged, Undo1, &QAction::setEnabled);
    connect(&History->Stack(), &QUndoStack::canRedoChanged, Redo1, &QAction::setEnabled);
    connect(Undo1, &QAction::triggered, this, [this] { RunHandler([this] { Undo1Click(); }); });
    connect(Redo1, &QAction::triggered, this, [this] { RunHandler([this] { Redo1Click(); }); });

    int index = 0;
    for (QSlider* slider : {dist_r, dist_g, dist_b}) {
        connect(slider, &QSlider::sliderPressed, this,
                [this, index] { History->DragStarts(index); });
        connect(slider, &QSlider::sliderReleased, this, [this] { History->DragEnds(); });
        ++index;
    }
    auto* textFirst = new TextUndoFirst(this);
    for (QLineEdit* field : {static_cast<QLineEdit*>(rbase_txt), static_cast<QLineEdit*>(gbase_txt),
                             static_cast<QLineEdit*>(bbase_txt), filename_txt}) {
        field->installEventFilter(textFirst);
    }
}

void TMainDlg::Undo1Click() {
    // A stroke still under way (the keys pressed while painting) is a step first.
    EndStroke();
    History->Stack().undo();
}

void TMainDlg::Redo1Click() {
    EndStroke();
    History->Stack().redo();
}

void TMainDlg::RestoreSelection(const Selection& selection) {
    Choice.Model = static_cast<ColourModel>(selection.model);
    Choice.HueTolerance = selection.hueTolerance;
    Choice.ChromaFloor = selection.chromaFloor;
    Choice.PerceptualRadius = selection.perceptualRadius;
    Choice.Feather = selection.feather;
    Choice.Grey = static_cast<GreyModel>(selection.grey);
    Choice.Strength = selection.strength;
    KeepChoiceSettings();
    MoreColours.clear();
    for (const auto& c : selection.moreColours) {
        MoreColours.push_back(CentralColor{c[0], c[1], c[2]});
    }
    if (ZoomWindow != nullptr) {
        ZoomWindow->ShowChoice();
    }
    if (selection.strokes != StrokeCount()) {
        ReplayStrokes(selection.strokes);
    }
    rbase_txt->SetValue(selection.red);
    gbase_txt->SetValue(selection.green);
    bbase_txt->SetValue(selection.blue);
    // The sliders move silently (their labels follow); one pass renders the whole selection.
    RenderLock = true;
    {
        const auto unlock = qScopeGuard([this] { RenderLock = false; });
        dist_r->setValue(selection.thresholdRed);
        dist_g->setValue(selection.thresholdGreen);
        dist_b->setValue(selection.thresholdBlue);
    }
    process_btnClick();
    if (selection.filtered) {
        filter_btnClick();
    }
}

} // namespace tintavo
