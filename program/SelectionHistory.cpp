#include "program/SelectionHistory.h"

#include <QScopeGuard>
#include <QUndoCommand>

#include <array>
#include <utility>

namespace tintavo {

namespace {

// Command ids: steps of one kind on one slider merge while their run lasts.
constexpr int KeyStepsId = 10; // + slider
constexpr int DragId = 20;     // + slider

std::array<int, 3> ThresholdsOf(const Selection& s) {
    return {s.thresholdRed, s.thresholdGreen, s.thresholdBlue};
}

class SelectionStep : public QUndoCommand {
public:
    SelectionStep(SelectionHistory& history, int id, unsigned run, const Selection& before,
                  const Selection& after)
        : history_(history), id_(id), run_(run), before_(before), after_(after) {}

    int id() const override { return id_; }

    void undo() override { history_.Restore(before_); }

    void redo() override {
        // Pushed after the step has happened: only a later redo has work to do.
        if (done_) {
            done_ = false;
            return;
        }
        history_.Restore(after_);
    }

    bool mergeWith(const QUndoCommand* other) override {
        const auto* next = static_cast<const SelectionStep*>(other);
        if (next->run_ != run_) {
            return false;
        }
        after_ = next->after_;
        // Back where the run started: nothing left to undo.
        setObsolete(after_ == before_);
        return true;
    }

private:
    SelectionHistory& history_;
    int id_;
    unsigned run_;
    Selection before_;
    Selection after_;
    bool done_ = true;
};

} // namespace

SelectionHistory::SelectionHistory(std::function<Selection()> read,
                                   std::function<void(const Selection&)> restore, QObject* parent)
    : QObject(parent), read_(std::move(read)), restore_(std::move(restore)), stack_(this) {}

Selection SelectionHistory::Live() const {
    Selection live = read_();
    live.filtered = filtered_;
    return live;
}

void SelectionHistory::Clear() {
    stack_.clear();
    committed_ = Live();
    ++run_;
}

void SelectionHistory::Record(int id, const Selection& after) {
    if (after == committed_) {
        return;
    }
    const Selection before = std::exchange(committed_, after);
    stack_.push(new SelectionStep(*this, id, run_, before, after));
}

void SelectionHistory::PassStarts() {
    filtered_ = false;
    if (restoring_) {
        return;
    }
    const Selection live = Live();
    // A Central Color typed or picked since the last pass: this pass uses it.
    Selection color = committed_;
    color.red = live.red;
    color.green = live.green;
    color.blue = live.blue;
    // A press that starts over with one colour is one step with its colour.
    color.moreColours = live.moreColours;
    if (color.red != committed_.red || color.green != committed_.green ||
        color.blue != committed_.blue) {
        color.filtered = false;
        Record(-1, color);
    }
    if (depth_ > 0) {
        return; // the preset records its thresholds when it ends
    }
    int id = -1;
    if (dragging_ >= 0) {
        id = DragId + dragging_;
    } else {
        const auto was = ThresholdsOf(committed_);
        const auto now = ThresholdsOf(live);
        int changed = 0;
        for (int i = 0; i < 3; ++i) {
            if (was[static_cast<std::size_t>(i)] != now[static_cast<std::size_t>(i)]) {
                ++changed;
                id = KeyStepsId + i;
            }
        }
        if (changed != 1) {
            id = -1;
        }
    }
    Record(id, live);
}

void SelectionHistory::StrokesChanged() {
    if (restoring_) {
        return;
    }
    Selection after = committed_;
    after.strokes = Live().strokes;
    Record(-1, after);
    ++run_;
}

void SelectionHistory::DragStarts(int slider) {
    dragging_ = slider;
    ++run_;
}

void SelectionHistory::DragEnds() {
    dragging_ = -1;
    ++run_;
}

SelectionHistory::Step::Step(SelectionHistory& history, Kind kind)
    : history_(history), kind_(kind) {
    ++history_.depth_;
}

SelectionHistory::Step::~Step() {
    --history_.depth_;
    history_.EndStep(kind_);
}

void SelectionHistory::EndStep(Kind kind) {
    if (kind == Kind::Filter) {
        filtered_ = true;
    }
    if (restoring_ || depth_ > 0) {
        return;
    }
    // The Central Color enters the history only through a pass that uses it.
    Selection after = Live();
    after.red = committed_.red;
    after.green = committed_.green;
    after.blue = committed_.blue;
    Record(-1, after);
    ++run_;
}

void SelectionHistory::Restore(const Selection& selection) {
    restoring_ = true;
    {
        const auto done = qScopeGuard([this] { restoring_ = false; });
        restore_(selection);
    }
    committed_ = Live();
    ++run_;
}

} // namespace tintavo
