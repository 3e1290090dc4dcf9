#pragma once

// The undo history of the selection: the Central Color, the three thresholds, whether the
// filter cleaned the mask after the last pass, and the zoom window's selection options. The window
// tells it where passes, presets and filters happen; each user step becomes one command of a
// QUndoStack.

#include <QObject>
#include <QUndoStack>

#include "engine/Selection.h"

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

namespace tintavo {

struct Selection {
    int red = 0;
    int green = 0;
    int blue = 0;
    int thresholdRed = 0;
    int thresholdGreen = 0;
    int thresholdBlue = 0;
    bool filtered = false;
    // The zoom window's panel, and the kept colours after the Central Color.
    int model = 0;
    int hueTolerance = DefaultHueTolerance;
    int chromaFloor = DefaultChromaFloor;
    int perceptualRadius = DefaultPerceptualRadius;
    int feather = 0;
    int grey = 0;
    int strength = MaxStrength;
    std::vector<std::array<int, 3>> moreColours;
    // The touch-up strokes laid on the picture (the window keeps the strokes themselves).
    std::size_t strokes = 0;
    friend bool operator==(const Selection&, const Selection&) = default;
};

class SelectionHistory : public QObject {
    Q_OBJECT
public:
    // read gives the selection as the controls hold it (its `filtered` is ignored: the
    // history keeps that itself); restore puts a selection back and renders it.
    SelectionHistory(std::function<Selection()> read, std::function<void(const Selection&)> restore,
                     QObject* parent);

    QUndoStack& Stack() { return stack_; }

    // Starts anew from the selection as it stands: nothing to undo or redo.
    void Clear();

    // A render pass is about to read the selection. A Central Color that differs from the
    // last one a pass used becomes a step of its own; outside a preset or a filter, a change
    // of the thresholds becomes a step too (one per drag, one per run of key steps on one
    // slider).
    void PassStarts();

    // A slider was pressed or let go: a drag of it starts or ends.
    void DragStarts(int slider);
    void DragEnds();

    // A touch-up stroke was painted or the strokes were cleared: one step.
    void StrokesChanged();

    // Held while a preset, Reset or a filter runs: all it changes is one step.
    enum class Kind { Preset, Filter };
    class [[nodiscard]] Step {
    public:
        Step(SelectionHistory& history, Kind kind);
        ~Step();
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        SelectionHistory& history_;
        Kind kind_;
    };

    // Puts a selection back (the commands' undo and redo); records nothing meanwhile.
    void Restore(const Selection& selection);

private:
    Selection Live() const;
    void Record(int id, const Selection& after);
    void EndStep(Kind kind);

    std::function<Selection()> read_;
    std::function<void(const Selection&)> restore_;
    QUndoStack stack_;
    Selection committed_;   // the selection the top of the history ends in
    bool filtered_ = false; // the filter ran after the last pass
    bool restoring_ = false;
    int depth_ = 0;     // nested Step objects
    int dragging_ = -1; // the slider being dragged, or -1
    unsigned run_ = 0;  // steps of one run merge; a new run starts at drags, undo and redo
};

} // namespace tintavo
