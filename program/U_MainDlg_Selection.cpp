// The main window's selection beyond the render pass's own: the options chosen in the zoom
// window's panel, several kept colours, the filter of a chosen selection and the settings
// that remember the choice.

#include "engine/MaskFilter.h"
#include "engine/Selection.h"
#include "engine/SoftEdge.h"
#include "platform/ProductIdentity.h"
#include "program/IntegerField.h"
#include "program/SelectionHistory.h"
#include "program/TImage32.h"
#include "program/U_MainDlg.h"
#include "program/ZoomWindow.h"
#include "services/U_TovikUtils.h"
#include "ui/ErrorReport.h"

#include <QMetaObject>
#include <QSlider>
#include <QString>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace tintavo {

namespace {

constexpr char ModelSetting[] = "SelectionModel";
constexpr char HueToleranceSetting[] = "SelectionHueTolerance";
constexpr char ChromaFloorSetting[] = "SelectionChromaFloor";
constexpr char PerceptualRadiusSetting[] = "SelectionPerceptualRadius";
constexpr char SoftEdgeSetting[] = "SelectionSoftEdge";
constexpr char GreySetting[] = "SelectionGrey";
constexpr char StrengthSetting[] = "SelectionStrength";

constexpr std::array<const char*, 3> ModelNames{"rgb", "hue", "perceptual"};
constexpr std::array<const char*, 2> GreyNames{"average", "luminance"};

QString ReadSetting(const char* name) {
    return QString::fromStdString(ReadProductString(ApplicationTitle, name));
}

// A kept number: the value when it is a whole number in 0..max, else the default.
std::int32_t ReadNumber(const char* name, std::int32_t max, std::int32_t fallback) {
    bool ok = false;
    const int value = ReadSetting(name).toInt(&ok);
    return ok && value >= 0 && value <= max ? value : fallback;
}

template <std::size_t N> int ReadName(const char* name, const std::array<const char*, N>& names) {
    const QString text = ReadSetting(name);
    for (std::size_t i = 0; i < N; ++i) {
        if (text == QLatin1String(names[i])) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

void KeepSetting(const char* name, const QString& value) {
    (void)KeepProductString(ApplicationTitle, name, value.toStdString());
}

std::int64_t DistanceSquared(const CentralColor& a, const CentralColor& b) {
    const auto d = [](std::int64_t x, std::int64_t y) { return (x - y) * (x - y); };
    return d(a.Red, b.Red) + d(a.Green, b.Green) + d(a.Blue, b.Blue);
}

} // namespace

SelectionOptions TMainDlg::PassOptions() const {
    SelectionOptions options = Choice;
    options.Colours.assign(
        1, CentralColor{rbase_txt->Value(), gbase_txt->Value(), bbase_txt->Value()});
    options.Colours.insert(options.Colours.end(), MoreColours.begin(), MoreColours.end());
    options.Box = Thresholds{dist_r->value(), dist_g->value(), dist_b->value()};
    return options;
}

const TBitmap32* TMainDlg::HeldCoverage() const {
    if (resultSource_ != ResultSource::Chosen && resultSource_ != ResultSource::ChosenFiltered) {
        return nullptr;
    }
    if (!coverage_.IsEmpty()) {
        return &coverage_;
    }
    return resultSource_ == ResultSource::ChosenFiltered ? &hardMask_ : nullptr;
}

namespace {

bool WantsSoftEdge(const SelectionRule* rule) {
    return rule != nullptr && rule->Options().Feather > 0;
}

// The soft-edged coverage of the rule over `source`, or of `hard` (the filtered hard mask)
// when given.
void BuildCoverage(const TBitmap32& source, const TBitmap32* hard, const SelectionRule& rule,
                   TBitmap32& out, const std::atomic<bool>* cancel) {
    if (hard != nullptr) {
        out.CopyFrom(hard);
    } else {
        BuildHardMask(source, rule, out, {}, cancel);
    }
    SoftenMask(out, rule.Options().Feather, cancel);
}

} // namespace

void TMainDlg::PrepareCoverage() {
    CancelCoverage();
    coverage_.Resize(0, 0);
    if (!WantsSoftEdge(rule_.get())) {
        return;
    }
    const std::uint64_t generation = ++coverageGeneration_;
    const TBitmap32* hard = resultSource_ == ResultSource::ChosenFiltered ? &hardMask_ : nullptr;
    coverageWorker_.Start(
        [source = &orgimg->Bitmap, hard, rule = rule_](TBitmap32& out,
                                                       const std::atomic<bool>& cancel) {
            BuildCoverage(*source, hard, *rule, out, &cancel);
        },
        [this, generation] {
            QMetaObject::invokeMethod(
                this, [this, generation] { RunHandler([&] { CoverageBuilt(generation); }); },
                Qt::QueuedConnection);
        });
}

void TMainDlg::CancelCoverage() {
    coverageWorker_.Cancel();
}

void TMainDlg::CoverageBuilt(std::uint64_t generation) {
    if (generation != coverageGeneration_ || !coverageWorker_.Held()) {
        return;
    }
    coverage_ = coverageWorker_.Take();
    ShowResult();
}

void TMainDlg::FinishCoverage() {
    if (resultSource_ != ResultSource::Chosen && resultSource_ != ResultSource::ChosenFiltered) {
        return;
    }
    if (coverageWorker_.Held()) {
        coverage_ = coverageWorker_.Take();
    } else if (WantsSoftEdge(rule_.get()) && coverage_.IsEmpty()) {
        // Built aside: a build that fails half way leaves no hard mask posing as the soft one.
        TBitmap32 built;
        BuildCoverage(orgimg->Bitmap,
                      resultSource_ == ResultSource::ChosenFiltered ? &hardMask_ : nullptr, *rule_,
                      built, nullptr);
        coverage_ = std::move(built);
    } else {
        return;
    }
    ShowResult();
}

void TMainDlg::FilterChosen() {
    // The filter cleans the hard mask; the soft edge, grey and strength follow from it. A soft
    // edge still being built is of the mask before the filter.
    CancelCoverage();
    if (resultSource_ == ResultSource::Chosen) {
        BuildHardMask(orgimg->Bitmap, *rule_, hardMask_);
    }
    FilterMask(hardMask_);
    resultSource_ = ResultSource::ChosenFiltered;
    RenderBitmap->Resize(0, 0);
    MaskBitmap->Resize(0, 0);
    resultsBuilt_ = false;
    PrepareCoverage();
    ShowResult();
}

void TMainDlg::MakeResultsChosen() {
    // The rule of the last pass, not a Central Color typed since and not yet rendered.
    SelectionOptions options = PassOptions();
    options.Colours.assign(1, ruleCc_);
    options.Box = ruleThresholds_;
    if (resultSource_ == ResultSource::Rule) {
        rule_ = std::make_shared<const SelectionRule>(options);
        resultSource_ = ResultSource::Chosen;
    } else if (resultSource_ == ResultSource::Mask) {
        // The filtered mask becomes the hard mask the chosen selection finishes.
        hardMask_.CopyFrom(MaskBitmap.get());
        rule_ = std::make_shared<const SelectionRule>(options);
        resultSource_ = ResultSource::ChosenFiltered;
        RenderBitmap->Resize(0, 0);
        MaskBitmap->Resize(0, 0);
    } else {
        return;
    }
    resultsBuilt_ = false;
    coverage_.Resize(0, 0);
}

// ---- Touch-up strokes ---------------------------------------------------------------------

bool TMainDlg::HasStrokes() const {
    return Strokes() != nullptr;
}

const BrushOverlay* TMainDlg::Strokes() const {
    // Strokes painted on a picture of another size (the working copy changed) do not apply.
    if (brush_.IsEmpty() || brush_.Width() != orgimg->Bitmap.Width() ||
        brush_.Height() != orgimg->Bitmap.Height()) {
        return nullptr;
    }
    return &brush_;
}

void TMainDlg::BeginStroke(BrushMode mode, double radius, double softness) {
    stroking_ = false;
    if (RenderLock || resultSource_ == ResultSource::Held || orgimg->Bitmap.IsEmpty()) {
        return;
    }
    if (brush_.Width() != orgimg->Bitmap.Width() || brush_.Height() != orgimg->Bitmap.Height()) {
        brush_.Reset(orgimg->Bitmap.Width(), orgimg->Bitmap.Height());
        ReplayStrokes(strokeCount_);
    }
    MakeResultsChosen();
    // A stroke after an undo takes the place of the strokes undone.
    strokes_.resize(strokeCount_);
    strokes_.push_back(BrushStroke{mode, radius, std::min(softness, radius), false, {}});
    ++strokeCount_;
    stroking_ = true;
}

void TMainDlg::PaintStroke(const std::vector<std::pair<double, double>>& points) {
    if (!stroking_ || points.empty()) {
        return;
    }
    BrushStroke& stroke = strokes_.back();
    for (const auto& [x, y] : points) {
        brush_.PaintDisc(x, y, stroke.Radius, stroke.Softness, stroke.Mode);
        stroke.Discs.emplace_back(x, y);
    }
    StrokesChanged();
}

void TMainDlg::EndStroke() {
    if (!stroking_) {
        return;
    }
    stroking_ = false;
    History->StrokesChanged();
}

void TMainDlg::ClearStrokes() {
    if (stroking_ || !HasStrokes()) {
        return;
    }
    strokes_.resize(strokeCount_);
    strokes_.push_back(BrushStroke{BrushMode::Keep, 1, 0, true, {}});
    ++strokeCount_;
    brush_.Clear();
    StrokesChanged();
    History->StrokesChanged();
}

void TMainDlg::ReplayStrokes(std::size_t count) {
    count = std::min(count, strokes_.size());
    brush_.Clear();
    for (std::size_t i = 0; i < count; ++i) {
        const BrushStroke& stroke = strokes_[i];
        if (stroke.Clears) {
            brush_.Clear();
        }
        for (const auto& [x, y] : stroke.Discs) {
            brush_.PaintDisc(x, y, stroke.Radius, stroke.Softness, stroke.Mode);
        }
    }
    strokeCount_ = count;
}

void TMainDlg::StrokesChanged() {
    // The views sample the strokes as they lie; the full results follow when read.
    if (resultSource_ == ResultSource::Chosen || resultSource_ == ResultSource::ChosenFiltered) {
        RenderBitmap->Resize(0, 0);
        MaskBitmap->Resize(0, 0);
        resultsBuilt_ = false;
        ShowResult();
    }
}

void TMainDlg::ForgetStrokes() {
    stroking_ = false;
    strokes_.clear();
    strokeCount_ = 0;
    brush_.Reset(0, 0);
}

void TMainDlg::SetChoice(const SelectionOptions& choice) {
    ValidateSelection(choice);
    Choice = choice;
    KeepChoiceSettings();
    process_btnClick();
}

void TMainDlg::AddKeptColour() {
    const CentralColor colour{r_txt->Value(), g_txt->Value(), b_txt->Value()};
    const SelectionOptions options = PassOptions();
    if (std::find_if(options.Colours.begin(), options.Colours.end(), [&](const CentralColor& c) {
            return c.Red == colour.Red && c.Green == colour.Green && c.Blue == colour.Blue;
        }) == options.Colours.end()) {
        MoreColours.push_back(colour);
    }
    process_btnClick();
}

void TMainDlg::RemoveKeptColour() {
    if (MoreColours.empty()) {
        return; // the last kept colour stays
    }
    const CentralColor probe{r_txt->Value(), g_txt->Value(), b_txt->Value()};
    const CentralColor first{rbase_txt->Value(), gbase_txt->Value(), bbase_txt->Value()};
    std::int64_t best = DistanceSquared(first, probe);
    std::size_t nearest = 0; // 0: the Central Color, else MoreColours[nearest - 1]
    for (std::size_t i = 0; i < MoreColours.size(); ++i) {
        const std::int64_t d = DistanceSquared(MoreColours[i], probe);
        if (d < best) {
            best = d;
            nearest = i + 1;
        }
    }
    if (nearest == 0) {
        // The next colour becomes the first, shown in the Central Color fields.
        rbase_txt->SetValue(MoreColours.front().Red);
        gbase_txt->SetValue(MoreColours.front().Green);
        bbase_txt->SetValue(MoreColours.front().Blue);
        MoreColours.erase(MoreColours.begin());
    } else {
        MoreColours.erase(MoreColours.begin() + static_cast<std::ptrdiff_t>(nearest - 1));
    }
    process_btnClick();
}

void TMainDlg::ReadChoiceSettings() {
    SelectionOptions choice;
    choice.Model = static_cast<ColourModel>(ReadName(ModelSetting, ModelNames));
    choice.HueTolerance = ReadNumber(HueToleranceSetting, MaxHueTolerance, DefaultHueTolerance);
    choice.ChromaFloor = ReadNumber(ChromaFloorSetting, MaxChromaFloor, DefaultChromaFloor);
    choice.PerceptualRadius =
        ReadNumber(PerceptualRadiusSetting, MaxPerceptualRadius, DefaultPerceptualRadius);
    choice.Feather = ReadNumber(SoftEdgeSetting, MaxFeather, 0);
    choice.Grey = static_cast<GreyModel>(ReadName(GreySetting, GreyNames));
    choice.Strength = ReadNumber(StrengthSetting, MaxStrength, MaxStrength);
    Choice = choice;
}

void TMainDlg::KeepChoiceSettings() const {
    KeepSetting(ModelSetting, QLatin1String(ModelNames[static_cast<std::size_t>(Choice.Model)]));
    KeepSetting(HueToleranceSetting, QString::number(Choice.HueTolerance));
    KeepSetting(ChromaFloorSetting, QString::number(Choice.ChromaFloor));
    KeepSetting(PerceptualRadiusSetting, QString::number(Choice.PerceptualRadius));
    KeepSetting(SoftEdgeSetting, QString::number(Choice.Feather));
    KeepSetting(GreySetting, QLatin1String(GreyNames[static_cast<std::size_t>(Choice.Grey)]));
    KeepSetting(StrengthSetting, QString::number(Choice.Strength));
}

} // namespace tintavo
